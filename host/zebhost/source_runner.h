// The sources zebhost creates and the graphics thread that renders them.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "zeb/zeb-runner.h"

class ClipRecorder;

struct RunSettings {
    int sources = 1;
    double seconds = 10.0;
    double fps = 30.0;
    std::string snapshotDir; // empty: none
    bool activate = true;
    bool show = true;
};

class SourceRunner {
public:
    // With a recorder, every frame that source 0 renders is added to its clip.
    SourceRunner(const zeb_source_info& info, RunSettings settings,
                 ClipRecorder* recorder = nullptr);
    // Destroys whatever finish() has not.
    ~SourceRunner();

    SourceRunner(const SourceRunner&) = delete;
    SourceRunner& operator=(const SourceRunner&) = delete;

    // Creates, activates and shows the sources; a source whose create fails is skipped (and
    // reported in the summary). False when any create failed.
    bool createSources();
    // Renders every source at the frame rate on one graphics thread until the time is up or
    // stop becomes true; returns when that thread has ended.
    void run(const std::atomic<bool>& stop);
    // Final snapshots, then hide, deactivate and destroy each source.
    void finish();
    // One JSON line per source, in order, created or not.
    void printSummary(FILE* out) const;

private:
    struct Instance {
        int index = 0;
        bool created = false;
        void* data = nullptr;           // null once destroyed, and for a failed create
        zeb_canvas_t* canvas = nullptr; // null for a failed create
        bool activated = false;
        bool shown = false;
        uint64_t createdNs = 0;     // host clock
        bool firstUploadSeen = false;
    };

    void renderLoop(const std::atomic<bool>& stop) noexcept;
    void renderAll(float seconds);
    void writeSnapshots(const std::string& suffix);

    zeb_source_info info_;
    RunSettings settings_;
    ClipRecorder* recorder_ = nullptr;
    std::vector<Instance> instances_;
    // The opaque settings and source objects the module receives; never looked into.
    std::vector<zeb_data_t*> settingsObjects_;
    std::vector<zeb_source_t*> sourceObjects_;
};
