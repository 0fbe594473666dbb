// Latency of the whole picture path, live: a simulated car streams its test pattern through the
// private car network into one source instance, rendered at 30 or 60 frames a second. For every
// access unit, from the poll pass that read the datagram completing its frame (the unit's
// timestamp) to the moment its picture is queued for render and to the moment render uploads
// it, beside the bare decode + convert of the same unit (libavcodec + swscale alone, on a thread
// of its own, in the same run). Also with burst loss, which the forward error correction
// repairs late or not at all.
//
//   bench_latency [--frames=N] [--samples_dir=DIR] [Google Benchmark flags]
//
// Needs root (a network namespace of its own and the car network inside it). Each benchmark is
// one session of N frames (default 600) after 30 frames of warm-up; the Time column is the
// median from timestamp to upload. With --samples_dir every access unit and every render call
// is written to DIR/<case>.pictures.csv and DIR/<case>.renders.csv for the plots.
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/live/distribution.h"
#include "bench/live/live_source.h"
#include "bench/live/private_network.h"
#include "tests/support/car_network.h"

namespace {

constexpr size_t kWarmupFrames = 30;
size_t measuredFrames = 600;
std::string samplesDir;

struct Case {
    std::string label;
    std::string family;
    double renderFps;
    std::vector<std::string> faults; // carsim arguments
};

void writeSamples(const std::string& label, const std::vector<PictureRecord>& records,
                  const std::vector<RenderRecord>& renders) {
    if (samplesDir.empty()) {
        return;
    }
    std::ofstream pictures(samplesDir + "/" + label + ".pictures.csv");
    pictures << "measured,timestamp_ns,arrived_ns,queued_ns,uploaded_ns,bare_ns,dropped\n";
    for (size_t i = 0; i < records.size(); ++i) {
        const PictureRecord& r = records[i];
        const bool measured = i >= kWarmupFrames && i < kWarmupFrames + measuredFrames;
        pictures << measured << ',' << r.timestamp << ',' << r.arrivedNs << ',' << r.queuedNs << ','
                 << r.uploadedNs << ',' << r.bareNs << ',' << r.dropped << '\n';
    }
    std::ofstream calls(samplesDir + "/" + label + ".renders.csv");
    calls << "start_ns,end_ns,depth_after\n";
    for (const RenderRecord& r : renders) {
        calls << r.startNs << ',' << r.endNs << ',' << r.depthAfter << '\n';
    }
}

void setDistribution(benchmark::State& state, const std::string& name, const Distribution& d) {
    state.counters[name + "_p50_ms"] = d.p50;
    state.counters[name + "_p99_ms"] = d.p99;
    state.counters[name + "_max_ms"] = d.max;
}

void BM_Latency(benchmark::State& state, const Case& c) {
    for (auto _ : state) {
        testnet::CarNetwork network;
        std::vector<std::string> car = {"--family", c.family, "--name", "PERF-CAR"};
        car.insert(car.end(), c.faults.begin(), c.faults.end());
        if (!network.ok() || !network.addCar(car)) {
            state.SkipWithError(("car network: " + network.error()).c_str());
            return;
        }
        std::vector<PictureRecord> records;
        std::vector<RenderRecord> renders;
        int clears = 0;
        {
            LiveSource source(c.renderFps, PictureTimeline::Yardstick::Bare);
            if (!source.ok()) {
                state.SkipWithError("the source could not be created");
                return;
            }
            // The frames after the window let the last measured pictures reach render.
            const size_t wanted = kWarmupFrames + measuredFrames + 15;
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::seconds(30 + wanted / 10);
            while (source.timeline().arrivals() < wanted &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            renders = source.stopRendering();
            records = source.timeline().finish();
            clears = source.logged("Buffered too many frames");
        }
        if (records.size() < kWarmupFrames + measuredFrames) {
            state.SkipWithError(
                ("only " + std::to_string(records.size()) + " frames arrived").c_str());
            return;
        }
        writeSamples(c.label, records, renders);

        std::vector<int64_t> toQueued, toUploaded, waited, bare, receive, decode;
        size_t dropped = 0, noPicture = 0;
        for (size_t i = kWarmupFrames; i < kWarmupFrames + measuredFrames; ++i) {
            const PictureRecord& r = records[i];
            receive.push_back(r.arrivedNs - r.timestamp);
            if (r.bareNs >= 0) {
                bare.push_back(r.bareNs);
            }
            if (r.queuedNs < 0) {
                ++noPicture;
                continue;
            }
            toQueued.push_back(r.queuedNs - r.timestamp);
            decode.push_back(r.queuedNs - r.arrivedNs);
            if (r.uploadedNs >= 0) {
                toUploaded.push_back(r.uploadedNs - r.timestamp);
                waited.push_back(std::max<int64_t>(0, r.uploadedNs - r.queuedNs));
            }
            dropped += r.dropped ? 1 : 0;
        }
        const Distribution queued = distributionOf(toQueued);
        const Distribution uploaded = distributionOf(toUploaded);
        const Distribution yardstick = distributionOf(bare);
        setDistribution(state, "queued", queued);
        setDistribution(state, "uploaded", uploaded);
        setDistribution(state, "wait", distributionOf(waited));
        setDistribution(state, "bare", yardstick);
        setDistribution(state, "receive", distributionOf(receive));
        setDistribution(state, "decode", distributionOf(decode));
        state.counters["queued_over_bare_p50"] = yardstick.p50 > 0 ? queued.p50 / yardstick.p50 : 0;
        state.counters["frames"] = static_cast<double>(measuredFrames);
        state.counters["no_picture"] = static_cast<double>(noPicture);
        state.counters["dropped"] = static_cast<double>(dropped);
        state.counters["clears"] = clears;
        state.SetIterationTime(uploaded.p50 / 1e3);
    }
}

std::vector<Case> cases() {
    std::vector<Case> all;
    const std::vector<std::pair<std::string, std::vector<std::string>>> conditions = {
        {"clean", {}},
        // Runs of 2 datagrams: the parity repairs them, late when they hit a frame's tail.
        {"burst2x2", {"--burst-loss", "2:2", "--seed", "7"}},
        // Runs of 6 datagrams: frames lost outright, a key frame asked for each.
        {"burst6x0.5", {"--burst-loss", "6:0.5", "--seed", "7"}},
    };
    for (const std::string family : {"sonix", "zoderiv"}) {
        for (const auto& [name, faults] : conditions) {
            for (const double fps : {30.0, 60.0}) {
                all.push_back({family + "-" + name + "-r" + std::to_string(static_cast<int>(fps)),
                               family, fps, faults});
            }
        }
    }
    return all;
}

} // namespace

int main(int argc, char** argv) {
    if (!enterOwnNetwork()) {
        std::fprintf(stderr, "bench_latency: needs root: it runs in a network namespace of its "
                             "own with a private car network inside\n");
        return 1;
    }
    samplesDir = takeFlag(argc, argv, "samples_dir");
    if (const std::string frames = takeFlag(argc, argv, "frames"); !frames.empty()) {
        measuredFrames = std::stoul(frames);
    }
    for (const Case& c : cases()) {
        benchmark::RegisterBenchmark(("Latency/" + c.label).c_str(), BM_Latency, c)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
