// fault_matrix: the source under faults. For each cell a private car network (bridge, one car
// in a namespace of its own running bin/carsim with one fault), one "drivon" source rendered as
// the host renders it, and exact figures: pictures per second and outages from the render
// thread, the module's own statistics counters, reconnects from its log, every access unit
// handed to the decoder (checked byte for byte when the car replays a known stream), and the
// process's threads and descriptors before and after. One JSON line per cell.
//
//   fault_matrix [--family sonix|zoderiv|both] [--only REGEX] [--seconds S] [--cycles N]
//                [--repetitions N] [--out FILE] [--list]
//
// It must run in a network namespace of its own (it makes a bridge and car namespaces there):
// scripts/perf/fault_matrix.sh starts it that way.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <net/if.h>
#include <regex>
#include <string>

#include "bench/fault_matrix/cells.h"
#include "bench/fault_matrix/reference_stream.h"
#include "bench/fault_matrix/run_cell.h"
#include "client/stream_stats_collector.h"
#include "zeb/zeb-runner.h"

namespace {

int usage(const char* problem) {
    std::fprintf(stderr,
                 "fault_matrix: %s\nusage: fault_matrix [--family sonix|zoderiv|both] "
                 "[--only REGEX] [--seconds S] [--cycles N] [--repetitions N] [--out FILE] "
                 "[--list]\n",
                 problem);
    return 2;
}

// Nothing but loopback: a namespace of our own, where the bridge and the cars cannot reach a
// real network.
bool inPrivateNetwork() {
    struct if_nameindex* interfaces = ::if_nameindex();
    if (interfaces == nullptr) {
        return false;
    }
    bool onlyLoopback = true;
    for (const struct if_nameindex* i = interfaces; i->if_index != 0; ++i) {
        onlyLoopback = onlyLoopback && std::string(i->if_name) == "lo";
    }
    ::if_freenameindex(interfaces);
    return onlyLoopback;
}

} // namespace

int main(int argc, char** argv) {
    faults::MatrixOptions options;
    std::string only = ".*";
    std::string outPath;
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--family" && hasValue) {
            const std::string f = argv[++i];
            if (f == "both") {
                options.families = {"sonix", "zoderiv"};
            } else if (f == "sonix" || f == "zoderiv") {
                options.families = {f};
            } else {
                return usage("unknown family");
            }
        } else if (a == "--only" && hasValue) {
            only = argv[++i];
        } else if (a == "--seconds" && hasValue) {
            options.streamSeconds = std::atof(argv[++i]);
        } else if (a == "--cycles" && hasValue) {
            options.cycles = std::atoi(argv[++i]);
        } else if (a == "--repetitions" && hasValue) {
            options.destroyRepetitions = std::atoi(argv[++i]);
        } else if (a == "--out" && hasValue) {
            outPath = argv[++i];
        } else if (a == "--list") {
            list = true;
        } else {
            return usage(("unknown option " + a).c_str());
        }
    }
    const std::regex filter(only);
    std::vector<faults::Cell> cells;
    for (const faults::Cell& cell : faults::matrixCells(options)) {
        if (std::regex_search(cell.family + "/" + cell.name, filter)) {
            cells.push_back(cell);
        }
    }
    if (list) {
        for (const faults::Cell& cell : cells) {
            std::cout << cell.family << "/" << cell.name << "  " << cell.fault << "\n";
        }
        return 0;
    }
    if (!inPrivateNetwork()) {
        return usage("run me in a network namespace of my own (scripts/perf/fault_matrix.sh)");
    }

    char scratchPattern[] = "/tmp/drivon-faults-XXXXXX";
    if (::mkdtemp(scratchPattern) == nullptr) {
        return usage("cannot make a scratch folder");
    }
    const std::string scratch = scratchPattern;
    zeb_runner_set_config_root(scratch.c_str());
    zeb_module_t* module = zeb_runner_module_create("drivon");

    faults::ReferenceStream reference;
    faults::Bench bench;
    bench.module = module;
    bench.referencePath = scratch + "/reference.h264";
    if (!faults::makeReferenceStream(bench.referencePath, 300, 30, reference)) {
        return usage("cannot encode the reference stream");
    }
    bench.reference = &reference;
    // The log tap first: the decoder tap's log callback and the collectors log nothing.
    faults::LogTap log;
    faults::StatsTap stats;
    bench.log = &log;
    bench.stats = &stats;

    std::ofstream outFile;
    if (!outPath.empty()) {
        outFile.open(outPath, std::ios::app);
    }
    std::ostream& out = outPath.empty() ? std::cout : outFile;
    int failures = 0;
    for (const faults::Cell& cell : cells) {
        std::cerr << "fault_matrix: " << cell.family << "/" << cell.name << " ..." << std::flush;
        const nlohmann::json result = faults::runCell(cell, bench);
        out << result.dump() << std::endl;
        failures += result.contains("error") ? 1 : 0;
        std::cerr << (result.contains("error") ? " " + result["error"].get<std::string>() : " done")
                  << "\n";
    }
    StreamStatsCollector::destroyCurrent();
    stats.releaseAll();
    zeb_runner_module_destroy(module);
    std::filesystem::remove_all(scratch);
    return failures == 0 ? 0 : 1;
}
