// zebhost: loads a module into the stand-in host, runs its "drivon" sources for a while on a
// graphics thread and prints what each of them drew.
#include <atomic>
#include <csignal>
#include <cstdio>

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

int run(const Options& options) {
    if (!options.configDir.empty()) {
        zeb_runner_set_config_root(options.configDir.c_str());
    }
    if (!options.snapshotDir.empty() && os_mkdirs(options.snapshotDir.c_str()) == MKDIR_ERROR) {
        fprintf(stderr, "zebhost: cannot create the snapshot folder %s\n",
                options.snapshotDir.c_str());
        return 2;
    }
    std::string error;
    std::unique_ptr<LoadedModule> module = LoadedModule::load(options.modulePath, error);
    if (!module) {
        fprintf(stderr, "zebhost: cannot load module %s: %s\n", options.modulePath.c_str(),
                error.c_str());
        return 2;
    }
    const zeb_source_info* info = zeb_runner_find_source("drivon");
    if (!info) {
        fprintf(stderr, "zebhost: module %s registers no source type \"drivon\"\n",
                options.modulePath.c_str());
        return 2;
    }

    RunSettings settings;
    settings.sources = options.sources;
    settings.seconds = options.seconds;
    settings.fps = options.fps;
    settings.snapshotDir = options.snapshotDir;
    settings.activate = !options.inactive;
    settings.show = !options.hidden;

    auto runner = std::make_unique<SourceRunner>(*info, settings);
    runner->createSources();
    runner->run(stopRequested);
    runner->finish();
    // Sources are destroyed; the module may go (which also forgets its records).
    module.reset();
    const size_t leaked = zeb_runner_live_textures();
    if (leaked != 0) {
        fprintf(stderr, "zebhost: %zu textures still alive after the module was unloaded\n",
                leaked);
    }
    runner->printSummary(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        fprintf(stderr, "zebhost: %s\n%s", error.c_str(), usageText());
        return 2;
    }
    installSignalHandlers();
    return run(options);
}
