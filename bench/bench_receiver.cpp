// The media receiver on a car's real stream (the simulator's 720p30 test pattern, its FEC
// framing and Sonix slice trailers): what each datagram costs from intake to the access unit
// handed on, beside a plain copy of the same bytes, and how long the datagram that completes a
// frame takes to become an access unit (median and p99 over 1200 frames), with and without
// loss.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <vector>

#include "carsim/media/media_stream.h"
#include "media/receiver/media_receiver.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFrames = 1200;

struct Stream {
    std::vector<std::vector<uint8_t>> datagrams;
    size_t bytes = 0;
};

const Stream& carStream(int lossPercent) {
    static std::vector<std::pair<int, Stream>> made;
    for (const auto& [loss, stream] : made) {
        if (loss == lossPercent) {
            return stream;
        }
    }
    carsim::MediaOptions options;
    options.lossPercent = lossPercent;
    options.startFrameNumber = 1; // frame 0 would be dropped by a fresh receiver
    carsim::MediaStream source(options);
    Stream stream;
    if (source.open()) {
        for (int i = 0; i < kFrames; ++i) {
            for (auto& datagram : source.next().datagrams) {
                stream.bytes += datagram.size();
                stream.datagrams.push_back(std::move(datagram));
            }
        }
    }
    made.emplace_back(lossPercent, std::move(stream));
    return made.back().second;
}

class CountingSink final : public MediaSink {
public:
    void deliverFrame(int32_t, int64_t, const std::vector<uint8_t>& unit) override {
        bytes += unit.size();
        deliveredAt = Clock::now();
        ++units;
    }
    void requestKeyFrame() override { ++keyFrameRequests; }
    void onSliceTrailer(SliceTrailerBytes trailer) override { benchmark::DoNotOptimize(trailer); }

    size_t bytes = 0;
    size_t units = 0;
    size_t keyFrameRequests = 0;
    Clock::time_point deliveredAt;
};

std::vector<NetManager::NetPacket> asPackets(const Stream& stream) {
    std::vector<NetManager::NetPacket> packets(stream.datagrams.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        packets[i].data = stream.datagrams[i];
    }
    return packets;
}

void BM_ReceiverPerDatagram(benchmark::State& state) {
    const Stream& stream = carStream(static_cast<int>(state.range(0)));
    if (stream.datagrams.empty()) {
        state.SkipWithError("the simulator's encoder could not be opened");
        return;
    }
    const std::vector<NetManager::NetPacket> packets = asPackets(stream);
    size_t units = 0;
    for (auto _ : state) {
        CountingSink sink;
        MediaReceiver receiver(MediaReceiver::Family::Sonix, sink);
        for (const auto& packet : packets) {
            receiver.onPacket(packet);
        }
        units = sink.units;
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(packets.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.bytes));
    state.counters["access_units"] = static_cast<double>(units);
}

// What the receiver is measured against: the same datagrams copied once each.
void BM_PlainCopyPerDatagram(benchmark::State& state) {
    const Stream& stream = carStream(0);
    std::vector<uint8_t> buffer(2048);
    for (auto _ : state) {
        for (const auto& datagram : stream.datagrams) {
            std::memcpy(buffer.data(), datagram.data(), datagram.size());
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() *
                            static_cast<int64_t>(stream.datagrams.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.bytes));
}

// From the call that hands in a frame's completing datagram to the access unit's delivery.
void BM_CompletingDatagramToAccessUnit(benchmark::State& state) {
    const Stream& stream = carStream(static_cast<int>(state.range(0)));
    const std::vector<NetManager::NetPacket> packets = asPackets(stream);
    std::vector<double> microseconds;
    for (auto _ : state) {
        CountingSink sink;
        MediaReceiver receiver(MediaReceiver::Family::Sonix, sink);
        microseconds.clear();
        for (const auto& packet : packets) {
            const size_t before = sink.units;
            const Clock::time_point start = Clock::now();
            receiver.onPacket(packet);
            if (sink.units != before) {
                microseconds.push_back(
                    std::chrono::duration<double, std::micro>(sink.deliveredAt - start).count());
            }
        }
    }
    if (microseconds.empty()) {
        state.SkipWithError("nothing was delivered");
        return;
    }
    std::sort(microseconds.begin(), microseconds.end());
    const auto at = [&](double q) {
        return microseconds[std::min(microseconds.size() - 1,
                                     static_cast<size_t>(q * microseconds.size()))];
    };
    state.counters["frames"] = static_cast<double>(microseconds.size());
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = microseconds.back();
}

BENCHMARK(BM_ReceiverPerDatagram)->Arg(0)->Arg(10)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainCopyPerDatagram)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CompletingDatagramToAccessUnit)->Arg(0)->Arg(10)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
