#include "source_runner.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <exception>
#include <pthread.h>
#include <thread>

#include "clip_recorder.h"

// The host objects handed to create; the module only passes them around.
struct zeb_data {
    int unused = 0;
};
struct zeb_source {
    int index = 0;
};

SourceRunner::SourceRunner(const zeb_source_info& info, RunSettings settings,
                           ClipRecorder* recorder)
    : info_(info), settings_(std::move(settings)), recorder_(recorder) {}

SourceRunner::~SourceRunner() {
    finish();
    for (Instance& instance : instances_) {
        zeb_canvas_destroy(instance.canvas);
    }
    for (zeb_data_t* s : settingsObjects_) {
        delete s;
    }
    for (zeb_source_t* s : sourceObjects_) {
        delete s;
    }
}

bool SourceRunner::createSources() {
    bool allCreated = true;
    for (int i = 0; i < settings_.sources; ++i) {
        settingsObjects_.push_back(new zeb_data{});
        sourceObjects_.push_back(new zeb_source{i});
        Instance& instance = instances_.emplace_back();
        instance.index = i;
        instance.data =
            info_.create ? info_.create(settingsObjects_.back(), sourceObjects_.back()) : nullptr;
        if (!instance.data) {
            fprintf(stderr, "zebhost: source %d: create failed, skipped\n", i);
            allCreated = false;
            continue;
        }
        instance.created = true;
        instance.createdNs = os_gettime_ns();
        instance.canvas = zeb_canvas_create(1280, 720);
        if (settings_.activate && info_.activate) {
            info_.activate(instance.data);
            instance.activated = true;
        }
        if (settings_.show && info_.show) {
            info_.show(instance.data);
            instance.shown = true;
        }
    }
    return allCreated;
}

void SourceRunner::renderAll(float seconds) {
    for (Instance& instance : instances_) {
        if (!instance.data) {
            continue;
        }
        if (info_.video_tick) {
            info_.video_tick(instance.data, seconds);
        }
        zeb_canvas_begin(instance.canvas, 0);
        if (info_.video_render) {
            info_.video_render(instance.data, zeb_get_base_effect(ZEB_EFFECT_DEFAULT));
        }
        zeb_canvas_end(instance.canvas);
        if (!instance.firstUploadSeen && zeb_canvas_get_stats(instance.canvas).uploads > 0) {
            // How long the user waited for the first picture: what a source is judged by.
            instance.firstUploadSeen = true;
            fprintf(stderr, "zebhost: source %d: first picture %.0f ms after its creation\n",
                    instance.index, (os_gettime_ns() - instance.createdNs) / 1e6);
        }
        // Only this thread draws into the canvas, so it can be read without the graphics lock.
        if (recorder_ && instance.index == 0) {
            recorder_->addFrame(zeb_canvas_pixels(instance.canvas));
        }
    }
}

void SourceRunner::writeSnapshots(const std::string& suffix) {
    for (const Instance& instance : instances_) {
        if (!instance.created) {
            continue;
        }
        const std::string path =
            settings_.snapshotDir + "/source" + std::to_string(instance.index) + suffix + ".png";
        if (!zeb_canvas_write_png(instance.canvas, path.c_str())) {
            fprintf(stderr, "zebhost: cannot write %s\n", path.c_str());
        }
    }
}

void SourceRunner::renderLoop(const std::atomic<bool>& stop) noexcept {
    try {
        pthread_setname_np(pthread_self(), "zeb-graphics");
        const double periodNs = 1e9 / settings_.fps;
        const auto frames = static_cast<uint64_t>(std::llround(settings_.seconds * settings_.fps));
        const uint64_t start = os_gettime_ns();
        uint64_t lastTick = start;
        uint64_t snapshotsTaken = 0;
        for (uint64_t frame = 0; frame < frames && !stop.load(); ++frame) {
            // Absolute deadlines: a late frame does not shift the ones after it.
            const uint64_t deadline = start + static_cast<uint64_t>(frame * periodNs);
            while (!stop.load() && os_gettime_ns() < deadline) {
                // Short steps keep a stop request from waiting out a long frame period.
                os_sleepto_ns(std::min<uint64_t>(deadline, os_gettime_ns() + 100000000ull));
            }
            if (stop.load()) {
                break;
            }
            const uint64_t now = os_gettime_ns();
            const float tick = frame == 0 ? static_cast<float>(periodNs / 1e9)
                                          : static_cast<float>((now - lastTick) / 1e9);
            lastTick = now;
            renderAll(tick);
            // Frame k shows the period ending at (k + 1) / fps seconds.
            const auto secondsDone =
                static_cast<uint64_t>(std::floor((frame + 1) / settings_.fps + 1e-9));
            if (!settings_.snapshotDir.empty() && secondsDone > snapshotsTaken) {
                snapshotsTaken = secondsDone;
                writeSnapshots("-" + std::to_string(secondsDone));
            }
        }
        const uint64_t end = start + static_cast<uint64_t>(frames * periodNs);
        while (!stop.load() && os_gettime_ns() < end) {
            os_sleepto_ns(std::min<uint64_t>(end, os_gettime_ns() + 100000000ull));
        }
    } catch (const std::exception& e) {
        fprintf(stderr, "zebhost: graphics thread failed: %s\n", e.what());
    } catch (...) {
        fprintf(stderr, "zebhost: graphics thread failed\n");
    }
}

void SourceRunner::run(const std::atomic<bool>& stop) {
    std::thread graphics([this, &stop] { renderLoop(stop); });
    graphics.join();
}

void SourceRunner::finish() {
    if (!settings_.snapshotDir.empty()) {
        writeSnapshots("");
        settings_.snapshotDir.clear();
    }
    for (Instance& instance : instances_) {
        if (!instance.data) {
            continue;
        }
        if (instance.shown && info_.hide) {
            info_.hide(instance.data);
        }
        if (instance.activated && info_.deactivate) {
            info_.deactivate(instance.data);
        }
        if (info_.destroy) {
            info_.destroy(instance.data);
        }
        instance.data = nullptr;
    }
}

void SourceRunner::printSummary(FILE* out) const {
    for (const Instance& instance : instances_) {
        // A source that was never created drew nothing: its counts are all zero.
        const zeb_canvas_stats stats = zeb_canvas_get_stats(instance.canvas);
        fprintf(out,
                "{\"source\":%d,\"created\":%s,\"renders\":%" PRIu64 ",\"uploads\":%" PRIu64
                ",\"solid_fills\":%" PRIu64 ",\"logo_draws\":%" PRIu64 "}\n",
                instance.index, instance.created ? "true" : "false", stats.renders, stats.uploads,
                stats.solid_fills, stats.logo_draws);
    }
    fflush(out);
}
