// Frames as a car sends them (the simulator's packetizer cuts them into datagrams), a sink that
// records what the receiver hands on, and a probe of the statistics counters.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <tuple>
#include <vector>

#include "carsim/media/frame_packetizer.h"
#include "client/md_video_client_interface.h"
#include "client/stream_stats_collector.h"
#include "media/receiver/media_receiver.h"

namespace receiver_test {

using Bytes = std::vector<uint8_t>;

inline Bytes startCode() {
    return {0, 0, 0, 1};
}

// A NAL unit of the given type: header byte, then `length` - 1 bytes that never form a start
// code.
inline Bytes nal(int type, size_t length, uint8_t fill = 0x5A) {
    Bytes unit(length, fill);
    unit[0] = static_cast<uint8_t>(0x60 | type);
    return unit;
}

// An SPS (constrained baseline, 1280x720), header byte first.
inline Bytes sps() {
    return {0x67, 0x42, 0xC0, 0x1F, 0xDA, 0x01, 0x40, 0x16, 0xE8, 0x40, 0x00, 0x00, 0x03, 0x00,
            0x40, 0x00, 0x00, 0x0F, 0x23, 0xC6, 0x0C, 0xA8};
}

inline Bytes annexB(const std::vector<Bytes>& units) {
    Bytes frame;
    for (const Bytes& unit : units) {
        frame.insert(frame.end(), {0, 0, 0, 1});
        frame.insert(frame.end(), unit.begin(), unit.end());
    }
    return frame;
}

// The frame's datagrams as the simulator sends them: data packets in order, then parity.
inline std::vector<Bytes> datagrams(uint16_t number, const Bytes& frame, int shard = 16,
                                    int parity = 0) {
    return carsim::FramePacketizer(shard, parity).packetize(number, frame);
}

inline NetManager::NetPacket packet(const Bytes& data, int64_t timestamp = 1) {
    NetManager::NetPacket p;
    p.data = data;
    p.timestamp = timestamp;
    return p;
}

class RecordingSink final : public MediaSink {
public:
    using Frame = std::tuple<int32_t, int64_t, Bytes>;
    void deliverFrame(int32_t number, int64_t timestamp, const Bytes& unit) override {
        frames.emplace_back(number, timestamp, unit);
    }
    void requestKeyFrame() override { ++keyFrameRequests; }
    void onSliceTrailer(SliceTrailerBytes trailer) override {
        trailers.emplace_back(trailer.begin(), trailer.end());
    }

    std::vector<Frame> frames;
    std::vector<Bytes> trailers;
    std::atomic<int> keyFrameRequests{0};
};

// The module-wide collector with a fast reporter and a listener that keeps the last report.
class CounterProbe final : public MdVideoClientInterface {
public:
    CounterProbe() {
        StreamStatsCollector::replaceCurrent(std::chrono::milliseconds(1));
        StreamStatsCollector::current()->attachListener(this);
    }
    ~CounterProbe() { StreamStatsCollector::destroyCurrent(); }

    // Whether a report shows `value` in event word `word` (0 to 4) within 10 s.
    bool shows(size_t word, uint32_t value) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10),
                                [&] { return last.words[word] == value; });
    }

    void onDisconnected() override {}
    void onTelemetry(const MdvTelemetry&) override {}
    void onVideoFrame(int32_t, int64_t, const std::vector<uint8_t>&) override {}
    bool onStatistics(const MdvStreamStats& stats) override {
        {
            std::lock_guard lock(mutex);
            last = stats;
        }
        changed.notify_all();
        return false;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    MdvStreamStats last; // guarded by mutex
};

} // namespace receiver_test
