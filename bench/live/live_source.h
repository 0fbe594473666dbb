// One "drivon" source instance in a minimal host, as the host runs it: created (its device
// thread scans at once), activated and shown, rendered into a 1280 x 720 canvas at a fixed rate
// on a graphics thread of its own, and watched by a PictureTimeline. The process must already
// be in a network namespace of its own with the car network built (the source probes every
// private subnet it is on).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/live/picture_timeline.h"
#include "source/drivon_client.h"

struct RenderRecord {
    int64_t startNs = 0;
    int64_t endNs = 0;
    uint32_t depthAfter = 0; // pictures still queued after this render call
};

class LiveSource {
public:
    LiveSource(double renderFps, PictureTimeline::Yardstick yardstick);
    // Stops the graphics thread, destroys the instance (which disconnects from its car), then
    // the rest.
    ~LiveSource();
    LiveSource(const LiveSource&) = delete;
    LiveSource& operator=(const LiveSource&) = delete;

    bool ok() const { return client != nullptr; }
    // Steady clock, just before and just after the host's create.
    int64_t createStartNs() const { return createStart; }
    int64_t createdNs() const { return created; }
    PictureTimeline& timeline() { return pictures; }
    // Ends rendering and returns every render call made.
    std::vector<RenderRecord> stopRendering();
    // Module log lines containing `text` so far.
    int logged(const std::string& text) const;
    // Steady clock when the first line containing `text` was logged; -1 when none was.
    int64_t firstLoggedNs(const std::string& text) const;

private:
    static void onLog(int level, const char* message, void* param);
    void renderLoop() noexcept;

    double fps;
    std::string configRoot;
    zeb_module_t* module = nullptr;
    PictureTimeline pictures;
    std::unique_ptr<DrivonClient> client;
    int64_t createStart = 0;
    int64_t created = 0;

    mutable std::mutex logMutex;
    struct Line {
        int64_t atNs;
        std::string text;
    };
    std::vector<Line> lines; // guarded by logMutex

    std::atomic<bool> stopRender{false};
    std::vector<RenderRecord> renders; // graphics thread until it is joined
    std::thread graphics;
};
