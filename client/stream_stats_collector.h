// Stream statistics: what happens on the connected device's video stream, reported once a second
// to the listener of the connected client.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "client/md_video_client_interface.h"

class StreamStatsCollector {
public:
    // Starts the reporter thread; throws std::system_error when it cannot be started.
    StreamStatsCollector();
    ~StreamStatsCollector();
    StreamStatsCollector(const StreamStatsCollector&) = delete;
    StreamStatsCollector& operator=(const StreamStatsCollector&) = delete;

    void reset();
    void attachListener(MdVideoClientInterface* listener);

    void addToCounter(int word, uint32_t amount);
    void addFrameShape(int k, int m);

    // The module-wide collector. Users hold it by shared ownership for each use, so a collector
    // replaced while another thread feeds it is freed only when that thread lets go.
    static std::shared_ptr<StreamStatsCollector> current();
    // Replaces the module-wide collector by a new one; false (and none in place) when the new
    // one's thread could not be started.
    static bool replaceCurrent() noexcept;
    // Stops and frees the module-wide collector (module unload).
    static void destroyCurrent() noexcept;

private:
    void reporterLoop() noexcept;
    // ... members per the collector's data model
};

// Module-wide counter operations; each does nothing when no collector exists.
namespace stream_stats {
void countDirectBlock();                 // word 0: block completed from its data packets
void countKeyFrameRequest();             // word 1: key-frame request sent
void countRepairedBlock();               // word 2: block repaired by the erasure decoder
void countLostFrame();                   // word 3: frame number skipped over
void countLatePacket();                  // word 4: packet index below the next expected
void addReceivedBytes(uint32_t bytes);   // word 5: one network receive
void addDeliveredBytes(uint32_t bytes);  // word 6: one frame delivered to the listener
void addFrameShape(int k, int m);        // tallyA += k, tallyB += m
} // namespace stream_stats
