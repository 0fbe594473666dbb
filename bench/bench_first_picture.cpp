// Time to the first picture, live, for each family: a simulated car in the private car network
// and one source instance rendered at 30 frames a second.
//   car_up:    the car is up and answering discovery; from the source's creation (the host's
//              create call) to the first uploaded picture.
//   car_later: the source has been scanning for a while (its first scan came back empty); from
//              the start of the car's process to the first uploaded picture. The car starts
//              0, 100, ... 900 ms after that empty scan in successive repetitions, so the
//              moments it appears fall evenly across the source's scan cycle.
//
//   bench_first_picture [--repetitions=N] [Google Benchmark flags]
//
// Needs root. Each repetition builds a fresh car network; the Time column is the time to the
// first picture and the aggregates give its median over the repetitions (default 10).
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "bench/live/live_source.h"
#include "bench/live/private_network.h"
#include "tests/support/car_network.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBound = std::chrono::seconds(20);

std::vector<std::string> carArguments(const std::string& family) {
    return {"--family", family, "--name", "PERF-CAR"};
}

// Until the first upload (or the bound); its time, or -1.
int64_t waitFirstUpload(LiveSource& source) {
    const auto deadline = Clock::now() + kBound;
    while (source.timeline().firstUploadNs() < 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return source.timeline().firstUploadNs();
}

void BM_CarUp(benchmark::State& state, const std::string& family) {
    for (auto _ : state) {
        testnet::CarNetwork network;
        if (!network.ok() || !network.addCar(carArguments(family))) {
            state.SkipWithError(("car network: " + network.error()).c_str());
            return;
        }
        LiveSource source(30, PictureTimeline::Yardstick::None);
        const int64_t first = waitFirstUpload(source);
        if (!source.ok() || first < 0) {
            state.SkipWithError("no picture arrived");
            return;
        }
        state.SetIterationTime(static_cast<double>(first - source.createStartNs()) / 1e9);
    }
}

void BM_CarLater(benchmark::State& state, const std::string& family) {
    static int repetition = 0;
    const int phaseMs = 100 * (repetition++ % 10);
    for (auto _ : state) {
        testnet::CarNetwork network;
        if (!network.ok()) {
            state.SkipWithError(("car network: " + network.error()).c_str());
            return;
        }
        LiveSource source(30, PictureTimeline::Yardstick::None);
        const auto deadline = Clock::now() + kBound;
        while (source.logged("no Drivon devices found") == 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(phaseMs));
        const int64_t carStart = steadyNowNs();
        if (!network.addCar(carArguments(family))) {
            state.SkipWithError(("car: " + network.error()).c_str());
            return;
        }
        const int64_t first = waitFirstUpload(source);
        if (!source.ok() || first < 0) {
            state.SkipWithError("no picture arrived");
            return;
        }
        state.SetIterationTime(static_cast<double>(first - carStart) / 1e9);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!enterOwnNetwork()) {
        std::fprintf(stderr, "bench_first_picture: needs root: it runs in a network namespace "
                             "of its own with a private car network inside\n");
        return 1;
    }
    int repetitions = 10;
    if (const std::string value = takeFlag(argc, argv, "repetitions"); !value.empty()) {
        repetitions = std::stoi(value);
    }
    for (const std::string family : {"sonix", "zoderiv"}) {
        for (const auto& [name, body] :
             {std::pair{"car_up", &BM_CarUp}, std::pair{"car_later", &BM_CarLater}}) {
            benchmark::RegisterBenchmark(("FirstPicture/" + family + "/" + name).c_str(), body,
                                         family)
                ->Iterations(1)
                ->Repetitions(repetitions)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
