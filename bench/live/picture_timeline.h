// Follows every access unit of one source through the source: when it reached the source, when
// its picture was queued and when render uploaded it, all on the steady clock the socket layer
// stamps datagrams with. Optionally decodes each access unit a second time with the bare
// decoder, on a thread of its own, once the source has queued its picture (so the two never
// decode the same frame at the same moment), for a side-by-side yardstick in the same run.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/live/bare_decoder.h"
#include "source/picture_observer.h"

// One access unit's journey; -1 where a step did not happen.
struct PictureRecord {
    int64_t timestamp = 0;   // poll pass that read the datagram completing the frame
    int64_t arrivedNs = -1;  // the source's onVideoFrame began
    int64_t queuedNs = -1;   // its picture went into the queue
    int64_t uploadedNs = -1; // render uploaded it
    int64_t bareNs = -1;     // bare decode + convert of the same access unit, duration
    bool dropped = false;    // queued, but discarded before render reached it
};

class PictureTimeline final : public PictureObserver {
public:
    enum class Yardstick { Bare, None };

    explicit PictureTimeline(Yardstick yardstick);
    // Ends the yardstick thread; unfinished yardstick work is left undone.
    ~PictureTimeline();
    PictureTimeline(const PictureTimeline&) = delete;
    PictureTimeline& operator=(const PictureTimeline&) = delete;

    void onFrameArrived(int64_t timestamp,
                        const std::vector<uint8_t>& accessUnit) noexcept override;
    void onPictureQueued(int64_t timestamp) noexcept override;
    void onPictureUploaded(int64_t timestamp) noexcept override;

    size_t arrivals() const;
    size_t uploads() const;
    int64_t firstUploadNs() const;
    int64_t firstArrivalNs() const; // -1 before the first access unit
    // Waits until the yardstick has caught up with every queued picture (bounded), then
    // returns a copy of all records.
    std::vector<PictureRecord> finish();

private:
    struct BareWork {
        size_t record;
        std::vector<uint8_t> accessUnit;
    };
    void yardstickLoop() noexcept;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<PictureRecord> records;     // guarded by mutex
    std::deque<size_t> inQueue;             // guarded by mutex: queued, not yet uploaded
    std::deque<PictureRecord> earlyUploads; // guarded by mutex: uploads seen before "queued"
    std::deque<BareWork> bareInbox;         // guarded by mutex
    size_t bareReleased = 0;                // guarded by mutex: records the yardstick may do
    size_t uploadCount = 0;                 // guarded by mutex
    int64_t firstUpload = -1;               // guarded by mutex
    bool stopping = false;                  // guarded by mutex
    std::unique_ptr<BareDecoder> bare;
    std::thread yardstick;
};

int64_t steadyNowNs();
