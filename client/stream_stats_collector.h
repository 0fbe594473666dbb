// Stream statistics: what happens on the connected device's video stream, reported once a second
// to the listener of the connected client.
//
// Counter words (the same indices in every MdvStreamStats report):
//   0  blocks completed from their data packets alone        accumulates
//   1  key-frame requests sent to the device                  accumulates
//   2  blocks repaired by the erasure decoder                 accumulates
//   3  frame numbers skipped over (lost frames)               accumulates
//   4  packets arriving with an index below the expected one  accumulates
//   5  bytes of every network receive                         cleared after each report
//   6  bytes of every frame delivered to the listener         cleared after each report
//   7  parity share of the frames begun in the last period:   cleared after each report
//      tallyB / tallyA x 100, truncated; 0 when no frame began
// Words 0 to 4 accumulate until the collector is reset (by a connect, or when the listener
// answers a report with true).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "client/md_video_client_interface.h"

class StreamStatsCollector {
public:
    static constexpr std::chrono::milliseconds defaultReportPeriod{1000};

    // Starts the reporter thread; throws std::system_error when it cannot be started.
    explicit StreamStatsCollector(std::chrono::milliseconds reportPeriod = defaultReportPeriod);
    // Stops the reporter (waking it from its wait) and joins it. Must not run on the reporter
    // itself: the reporter never holds a strong reference to its collector, and listeners must
    // not call back into the collector.
    ~StreamStatsCollector();
    StreamStatsCollector(const StreamStatsCollector&) = delete;
    StreamStatsCollector& operator=(const StreamStatsCollector&) = delete;

    void reset();
    void attachListener(MdVideoClientInterface* listener);
    // Clears the listener only if it is still `listener`: another client may have attached its
    // own since. Once this returns, `listener` is not being called and will not be called.
    void detachListener(MdVideoClientInterface* listener);

    // Adds `amount` to counter word 0 to 6; other words are ignored.
    void addToCounter(int word, uint32_t amount);
    // A frame began with k data packets and m parity packets.
    void addFrameShape(int k, int m);

    // The module-wide collector. Users hold it by shared ownership for each use, so a collector
    // replaced while another thread feeds it is freed only when that thread lets go.
    static std::shared_ptr<StreamStatsCollector> current();
    // Replaces the module-wide collector by a new one; false (and none in place) when the new
    // one's thread could not be started.
    static bool
    replaceCurrent(std::chrono::milliseconds reportPeriod = defaultReportPeriod) noexcept;
    // Stops and frees the module-wide collector (module unload).
    static void destroyCurrent() noexcept;

private:
    static constexpr size_t wordCount = 8;

    void reporterLoop() noexcept;
    // One report: snapshot, clear the per-period words, hand the snapshot to the listener.
    void reportLocked();

    const std::chrono::milliseconds period;
    std::atomic<bool> running{true};
    std::mutex mutex;
    // Wakes the reporter from its wait between reports when the collector is destroyed.
    std::condition_variable stopCond; // paired with mutex
    // Guarded by mutex:
    MdVideoClientInterface* listener = nullptr;
    std::array<uint32_t, wordCount> counters{};
    MdvStreamStats snapshot;
    int32_t tallyA = 0;
    int32_t tallyB = 0;
    // Last member: started once everything it reads is constructed.
    std::thread reporter;
};

// Module-wide counter operations; each does nothing when no collector exists.
namespace stream_stats {
void countDirectBlock();                // word 0: block completed from its data packets
void countKeyFrameRequest();            // word 1: key-frame request sent
void countRepairedBlock();              // word 2: block repaired by the erasure decoder
void countLostFrame();                  // word 3: frame number skipped over
void countLostFrames(uint32_t count);   // word 3: that many frame numbers skipped over
void countLatePacket();                 // word 4: packet index below the next expected
void addReceivedBytes(uint32_t bytes);  // word 5: one network receive
void addDeliveredBytes(uint32_t bytes); // word 6: one frame delivered to the listener
void addFrameShape(int k, int m);       // tallyA += k, tallyB += m
} // namespace stream_stats
