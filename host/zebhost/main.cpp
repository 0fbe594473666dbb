// zebhost: loads a module into the stand-in host, runs its "drivon" sources for a while on a
// graphics thread and prints what each of them drew.
#include <atomic>
#include <cinttypes>
#include <csignal>
#include <cstdio>

#include "clip_recorder.h"
#include "loaded_module.h"
#include "options.h"
#include "source_runner.h"

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void onStopSignal(int) {
    stopRequested.store(true);
}

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    // A second signal kills at once, should the clean-up itself hang.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool finishClip(ClipRecorder& recorder, const std::string& path) {
    if (!recorder.finish()) {
        fprintf(stderr, "zebhost: recording %s failed: %s\n", path.c_str(),
                recorder.error().c_str());
        return false;
    }
    const uint64_t frames = recorder.framesAdded();
    fprintf(stderr, "zebhost: recorded %" PRIu64 " frames to %s (%.2f ms a frame to encode)\n",
            frames, path.c_str(),
            frames ? static_cast<double>(recorder.encodeNanoseconds()) / 1e6 / frames : 0.0);
    return true;
}

int run(const Options& options) {
    if (!options.configDir.empty()) {
        zeb_runner_set_config_root(options.configDir.c_str());
    }
    if (!options.snapshotDir.empty() && os_mkdirs(options.snapshotDir.c_str()) == MKDIR_ERROR) {
        fprintf(stderr, "zebhost: cannot create the snapshot folder %s\n",
                options.snapshotDir.c_str());
        return kExitUnusable;
    }
    std::string error;
    std::unique_ptr<LoadedModule> module = LoadedModule::load(options.modulePath, error);
    if (!module) {
        fprintf(stderr, "zebhost: cannot load module %s: %s\n", options.modulePath.c_str(),
                error.c_str());
        return kExitUnusable;
    }
    const zeb_source_info* info = zeb_runner_find_source("drivon");
    if (!info) {
        fprintf(stderr, "zebhost: module %s registers no source type \"drivon\"\n",
                options.modulePath.c_str());
        return kExitUnusable;
    }
    // Opened before any source exists, so an unusable path ends the run before it starts.
    std::unique_ptr<ClipRecorder> recorder;
    if (!options.recordPath.empty()) {
        recorder = ClipRecorder::open(options.recordPath, 1280, 720, options.fps, error);
        if (!recorder) {
            fprintf(stderr, "zebhost: cannot record to %s: %s\n", options.recordPath.c_str(),
                    error.c_str());
            return kExitUnusable;
        }
    }

    RunSettings settings;
    settings.sources = options.sources;
    settings.seconds = options.seconds;
    settings.fps = options.fps;
    settings.snapshotDir = options.snapshotDir;
    settings.activate = !options.inactive;
    settings.show = !options.hidden;

    auto runner = std::make_unique<SourceRunner>(*info, settings, recorder.get());
    const bool allCreated = runner->createSources();
    runner->run(stopRequested);
    const bool recorded = !recorder || finishClip(*recorder, options.recordPath);
    runner->finish();
    // Sources are destroyed; the module may go (which also forgets its records).
    module.reset();
    const size_t leaked = zeb_runner_live_textures();
    if (leaked != 0) {
        fprintf(stderr, "zebhost: %zu textures still alive after the module was unloaded\n",
                leaked);
    }
    runner->printSummary(stdout);
    if (!allCreated) {
        return kExitCreateFailed;
    }
    return recorded ? kExitDone : kExitRecordFailed;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        fprintf(stderr, "zebhost: %s\n%s", error.c_str(), usageText());
        return kExitUnusable;
    }
    if (options.help) {
        fputs(usageText(), stdout);
        return kExitDone;
    }
    installSignalHandlers();
    return run(options);
}
