// Time to the first picture, live, for each family: a simulated car in the private car network
// and one source instance rendered at 30 frames a second.
//   car_up:    the car is up and answering discovery; from the source's creation (the host's
//              create call) to the first uploaded picture.
//   car_later: the source has been scanning for a while (its first scan came back empty); from
//              the start of the car's process to the first uploaded picture. The car starts
//              0, 100, ... 900 ms after that empty scan in successive repetitions, so the
//              moments it appears fall evenly across the source's scan cycle.
//
//   bench_first_picture [--repetitions=N] [--car_args="CARSIM ARGUMENTS"] [Google Benchmark flags]
//
// Needs root. Each repetition builds a fresh car network; the Time column is the time to the
// first picture and the aggregates give its median over the repetitions (default 10).
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>

#include "bench/live/live_source.h"
#include "bench/live/private_network.h"
#include "tests/support/car_network.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBound = std::chrono::seconds(20);

std::vector<std::string> extraCarArguments; // --car_args="..." (split at spaces)

std::vector<std::string> carArguments(const std::string& family) {
    std::vector<std::string> arguments = {"--family", family, "--name", "PERF-CAR"};
    arguments.insert(arguments.end(), extraCarArguments.begin(), extraCarArguments.end());
    return arguments;
}

// Where the wait went, from `start`: the connect reported, the first access unit at the source.
void setSteps(benchmark::State& state, LiveSource& source, int64_t start) {
    const auto ms = [start](int64_t at) {
        return at < 0 ? -1.0 : static_cast<double>(at - start) / 1e6;
    };
    state.counters["connected_ms"] = ms(source.firstLoggedNs("connect: 1"));
    state.counters["first_unit_ms"] = ms(source.timeline().firstArrivalNs());
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
        setSteps(state, source, source.createStartNs());
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
        setSteps(state, source, carStart);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!enterOwnNetwork()) {
        std::fprintf(stderr, "bench_first_picture: needs root: it runs in a network namespace "
                             "of its own with a private car network inside\n");
        return 1;
    }
    std::istringstream carArgs(takeFlag(argc, argv, "car_args"));
    for (std::string word; carArgs >> word;) {
        extraCarArguments.push_back(word);
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
