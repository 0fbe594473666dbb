#include "bench/fault_matrix/run_cell.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "bench/fault_matrix/process_counts.h"
#include "client/stream_stats_collector.h"
#include "tests/support/car_network.h"

namespace faults {

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

constexpr auto kFirstPictureBound = 30s;
// Longer than this without a new picture counts as an outage (the car sends 30 a second).
constexpr auto kOutageGap = 500ms;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}
double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

json distribution(std::vector<double> values) {
    if (values.empty()) {
        return json{{"n", 0}};
    }
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5)];
    };
    return json{{"n", values.size()},
                {"min", values.front()},
                {"median", at(0.5)},
                {"p90", at(0.9)},
                {"max", values.back()}};
}

json counts(const ProcessCounts& c) {
    return json{{"threads", c.threads}, {"descriptors", c.descriptors}};
}

// The module-wide collector goes as at unload, and the tap lets go of the ones it held, so the
// counts before and after a cell compare like with like.
void dropCollectors(Bench& bench) {
    StreamStatsCollector::destroyCurrent();
    bench.stats->releaseAll();
}

ProcessCounts settledCounts(const ProcessCounts& want) {
    // Threads that ended are gone from /proc a moment after they were joined.
    ProcessCounts now = processCounts();
    for (int i = 0; i < 60 && (now.threads != want.threads || now.descriptors != want.descriptors);
         ++i) {
        std::this_thread::sleep_for(50ms);
        now = processCounts();
    }
    return now;
}

std::vector<std::string> carArguments(const Cell& cell, const Bench& bench) {
    std::vector<std::string> arguments = {"--family", cell.family, "--name", "car1", "--seed", "7"};
    arguments.insert(arguments.end(), cell.carArguments.begin(), cell.carArguments.end());
    if (cell.reference) {
        arguments.insert(arguments.end(), {"--input", bench.referencePath});
    }
    return arguments;
}

json decoderFigures(const DecoderFigures& d) {
    json j = {{"access_units", d.accessUnits},
              {"idr_units", d.idrUnits},
              {"pictures_decoded", d.pictures},
              {"decoder_errors", d.decoderErrors},
              {"checked", d.checked},
              {"mismatched", d.mismatched},
              {"reference_gaps", d.referenceGaps},
              {"repeats", d.repeats},
              {"units_after_gap", d.unitsAfterGap},
              {"recovery_ms", distribution(d.recoveryMs)}};
    if (!d.firstProblems.empty()) {
        j["problems"] = d.firstProblems;
    }
    return j;
}

json statsFigures(const StatsTotals& t, double streamingSeconds) {
    json j = {{"direct", t.words[0]},          {"key_frame_requests", t.words[1]},
              {"repairs", t.words[2]},         {"lost_frames", t.words[3]},
              {"late_packets", t.words[4]},    {"received_bytes", t.words[5]},
              {"delivered_bytes", t.words[6]}, {"collectors", t.generations}};
    if (streamingSeconds > 0) {
        j["received_kbit_s"] = static_cast<double>(t.words[5]) * 8 / 1000 / streamingSeconds;
    }
    return j;
}

// Pictures shown per second between from and to (the uploads), and the outages: gaps longer
// than kOutageGap between pictures the decoder returned (a picture queued before a reconnect
// and shown after it is no sign of recovery, so the decoder's output is the measure here). Each
// outage is also listed as [seconds since `origin` at its start, its length in ms].
void pictureFigures(const std::vector<Clock::time_point>& uploads,
                    const std::vector<Clock::time_point>& decoded, Clock::time_point origin,
                    Clock::time_point from, Clock::time_point to, json& out) {
    size_t inWindow = 0;
    for (const Clock::time_point t : uploads) {
        inWindow += t >= from && t <= to ? 1 : 0;
    }
    std::vector<double> outages;
    json listed = json::array();
    for (size_t i = 1; i < decoded.size(); ++i) {
        if (decoded[i] - decoded[i - 1] > kOutageGap) {
            outages.push_back(ms(decoded[i] - decoded[i - 1]));
            listed.push_back({seconds(decoded[i - 1] - origin), outages.back()});
        }
    }
    out["pictures"] = uploads.size();
    out["pictures_per_s"] = to > from ? static_cast<double>(inWindow) / seconds(to - from) : 0.0;
    out["outages_ms"] = distribution(outages);
    out["outages"] = listed;
}

struct Run {
    testnet::CarNetwork network;
    Clock::time_point carStarted;
    Clock::time_point sourceCreated;
    ProcessCounts before;
    int64_t receiveBufferDrops = 0; // the kernel's count when the cell began
};

// The car network with the cell's car, the taps restarted and the counts taken; null (with the
// reason in `result`) when the network cannot be made.
std::unique_ptr<Run> prepare(const Cell& cell, Bench& bench, json& result) {
    auto run = std::make_unique<Run>();
    if (!run->network.ok()) {
        result["error"] = "no car network: " + run->network.error();
        return nullptr;
    }
    run->carStarted = Clock::now();
    if (!run->network.addCar(carArguments(cell, bench))) {
        result["error"] = "car did not come up: " + run->network.error();
        return nullptr;
    }
    dropCollectors(bench);
    bench.stats->restart();
    bench.log->restart();
    DecoderTap::instance().restart(cell.reference ? bench.reference : nullptr);
    run->before = processCounts();
    run->receiveBufferDrops = udpReceiveBufferErrors();
    return run;
}

void finish(Run& run, Bench& bench, Clock::time_point destroyed, json& result) {
    bench.stats->waitFinalReports(destroyed, 3s);
    const double streaming = result.value("streaming_s", 0.0);
    result["stats"] = statsFigures(bench.stats->totals(), streaming);
    const DecoderFigures decoder = DecoderTap::instance().figures();
    result["decoder"] = decoderFigures(decoder);
    if (decoder.accessUnits > 0 && run.sourceCreated != Clock::time_point{}) {
        result["decoder"]["first_unit_s"] = seconds(decoder.firstUnit - run.sourceCreated);
        result["decoder"]["first_picture_s"] = seconds(decoder.firstPicture - run.sourceCreated);
    }
    result["connects"] = bench.log->count("[drivon] connect: 1");
    result["reconnects"] = std::max(0, bench.log->count("[drivon] connect: 1") - 1);
    result["connect_failures"] = bench.log->count("[drivon] couldnt connect to any Drivon");
    result["create_failures"] = bench.log->count("[drivon] couldnt create client");
    dropCollectors(bench);
    if (const int64_t drops = udpReceiveBufferErrors(); drops >= 0 && run.receiveBufferDrops >= 0) {
        result["receive_buffer_drops"] = drops - run.receiveBufferDrops;
    }
    result["before"] = counts(run.before);
    result["after"] = counts(settledCounts(run.before));
}

json runTimed(const Cell& cell, Bench& bench) {
    json result;
    auto run = prepare(cell, bench, result);
    if (!run) {
        return result;
    }
    SourceUnderTest source(bench.module);
    run->sourceCreated = source.created();
    if (!source.ok()) {
        result["error"] = "source could not be created";
        return result;
    }
    Clock::time_point end;
    Clock::time_point first;
    const bool pictures =
        cell.kind != CellKind::Silent &&
        source.waitUploads(
            1, std::chrono::duration_cast<std::chrono::milliseconds>(kFirstPictureBound));
    if (pictures) {
        first = source.uploads().front();
        result["first_picture_s"] = seconds(first - source.created());
        // Stream cells measure a window after the first picture; the others run for a fixed
        // time from the source's creation, faults and all.
        end = cell.kind == CellKind::Stream
                  ? first + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(cell.seconds + 1))
                  : source.created() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(cell.seconds));
    } else {
        end = source.created() + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(cell.seconds));
        if (cell.kind != CellKind::Silent) {
            result["error"] = "no picture within the bound";
        }
    }
    std::this_thread::sleep_until(end);
    const std::vector<Clock::time_point> uploads = source.uploads();
    const std::string stateAtEnd = [&] {
        switch (source.state()) {
        case SourceState::Scanning:
            return "scanning";
        case SourceState::Connecting:
            return "connecting";
        case SourceState::Streaming:
            return "streaming";
        }
        return "?";
    }();
    result["state_at_end"] = stateAtEnd;
    result["destroy_ms"] = source.destroy().count();
    const Clock::time_point destroyed = Clock::now();
    const std::vector<Clock::time_point> decoded = DecoderTap::instance().figures().pictureTimes;
    if (pictures) {
        // The first second after the first picture is start-up, not steady state.
        pictureFigures(uploads, decoded, source.created(), first + 1s, end, result);
        result["streaming_s"] = seconds(end - first);
    } else {
        result["pictures"] = uploads.size();
    }
    if (cell.kind != CellKind::Stream) {
        // What the source went through, for the reader of the results.
        json lines = json::array();
        for (const LogLine& line : bench.log->lines()) {
            lines.push_back({seconds(line.at - source.created()), line.text});
        }
        result["log"] = lines;
        json times = json::array();
        for (const Clock::time_point t : decoded) {
            times.push_back(std::round(seconds(t - source.created()) * 1000) / 1000);
        }
        result["decoded_times_s"] = times;
    }
    if (cell.returnAt >= 0) {
        const Clock::time_point back =
            run->carStarted + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(cell.returnAt));
        const auto after = std::find_if(decoded.begin(), decoded.end(),
                                        [&](Clock::time_point t) { return t > back; });
        if (after != decoded.end()) {
            result["recovered_after_return_s"] = seconds(*after - back);
        } else {
            result["error"] = "no picture after the car came back";
        }
    }
    finish(*run, bench, destroyed, result);
    return result;
}

json runCycles(const Cell& cell, Bench& bench) {
    json result;
    auto run = prepare(cell, bench, result);
    if (!run) {
        return result;
    }
    std::vector<double> firstPicture;
    std::vector<double> destroyMs;
    std::vector<int> threadsAfter;
    int failed = 0;
    for (int i = 0; i < cell.repetitions; ++i) {
        SourceUnderTest source(bench.module);
        if (source.ok() &&
            source.waitUploads(
                1, std::chrono::duration_cast<std::chrono::milliseconds>(kFirstPictureBound))) {
            firstPicture.push_back(seconds(source.uploads().front() - source.created()));
        } else {
            ++failed;
        }
        destroyMs.push_back(source.destroy().count());
        bench.stats->waitFinalReports(Clock::now(), 3s);
        bench.stats->harvest();
        threadsAfter.push_back(processCounts().threads);
    }
    const Clock::time_point destroyed = Clock::now();
    result["cycles"] = cell.repetitions;
    result["cycles_without_picture"] = failed;
    result["first_picture_s"] = distribution(firstPicture);
    result["destroy_ms"] = distribution(destroyMs);
    result["threads_after_each"] =
        distribution(std::vector<double>(threadsAfter.begin(), threadsAfter.end()));
    finish(*run, bench, destroyed, result);
    return result;
}

SourceState stateNamed(const std::string& name) {
    if (name == "connecting") {
        return SourceState::Connecting;
    }
    return name == "streaming" ? SourceState::Streaming : SourceState::Scanning;
}

json runDestroys(const Cell& cell, Bench& bench) {
    json result;
    auto run = prepare(cell, bench, result);
    if (!run) {
        return result;
    }
    const SourceState target = stateNamed(cell.destroyState);
    std::vector<double> destroyMs;
    int inState = 0;
    for (int i = 0; i < cell.repetitions; ++i) {
        SourceUnderTest source(bench.module);
        // Reach the state, then let a different part of it pass on each repetition.
        const auto bound = Clock::now() + kFirstPictureBound;
        while (source.state() != target && Clock::now() < bound) {
            std::this_thread::sleep_for(1ms);
        }
        if (target == SourceState::Streaming) {
            source.waitUploads(1, 10s);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(i * 900 / cell.repetitions));
        inState += source.state() == target ? 1 : 0;
        destroyMs.push_back(source.destroy().count());
    }
    const Clock::time_point destroyed = Clock::now();
    result["repetitions"] = cell.repetitions;
    result["destroyed_in_state"] = inState;
    result["destroy_ms"] = distribution(destroyMs);
    finish(*run, bench, destroyed, result);
    return result;
}

} // namespace

json runCell(const Cell& cell, Bench& bench) {
    json result;
    switch (cell.kind) {
    case CellKind::Stream:
    case CellKind::Connection:
    case CellKind::Silent:
        result = runTimed(cell, bench);
        break;
    case CellKind::Cycles:
        result = runCycles(cell, bench);
        break;
    case CellKind::Destroy:
        result = runDestroys(cell, bench);
        break;
    }
    static const char* const kinds[] = {"stream", "connection", "silent", "cycles", "destroy"};
    result["cell"] = cell.name;
    result["family"] = cell.family;
    result["kind"] = kinds[static_cast<int>(cell.kind)];
    result["fault"] = cell.fault;
    result["car_arguments"] = cell.carArguments;
    if (cell.lossPercent >= 0) {
        result["loss_percent"] = cell.lossPercent;
        result["parity"] = cell.parity;
    }
    result["replay_checked"] = cell.reference;
    return result;
}

} // namespace faults
