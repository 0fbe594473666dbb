// One "drivon" source instance run as the host runs it: created, activated and shown, rendered
// 30 times a second into a 1280 x 720 canvas on a graphics thread of its own, hidden,
// deactivated and destroyed at will. It keeps the time of every new picture the source uploaded
// and the module's log lines with their times.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "source/drivon_client.h"
#include "zeb/zeb-runner.h"

namespace faults {

using Clock = std::chrono::steady_clock;

struct LogLine {
    Clock::time_point at;
    int level = 0;
    std::string text;
};

// The module's log lines, from the stand-in host's log handler.
class LogTap {
public:
    LogTap();
    ~LogTap();
    LogTap(const LogTap&) = delete;
    LogTap& operator=(const LogTap&) = delete;

    void restart();
    std::vector<LogLine> lines() const;
    int count(const std::string& text) const;

private:
    static void onLog(int level, const char* message, void* self);
    mutable std::mutex mutex;
    std::vector<LogLine> kept; // guarded by mutex
};

class SourceUnderTest {
public:
    static constexpr int kRenderRate = 30;

    explicit SourceUnderTest(zeb_module_t* module);
    ~SourceUnderTest();
    SourceUnderTest(const SourceUnderTest&) = delete;
    SourceUnderTest& operator=(const SourceUnderTest&) = delete;

    bool ok() const { return client != nullptr; }
    Clock::time_point created() const { return createdAt; }
    SourceState state() const;

    // Stops rendering it, hides, deactivates and destroys the instance; how long the destroy
    // itself took. Later calls do nothing and return 0.
    std::chrono::duration<double, std::milli> destroy();

    // Times of the pictures uploaded so far.
    std::vector<Clock::time_point> uploads() const;
    // Until `count` pictures were uploaded in all; whether that happened within the bound.
    bool waitUploads(size_t count, std::chrono::milliseconds bound);

private:
    void renderLoop() noexcept;

    std::unique_ptr<DrivonClient> client;
    zeb_canvas_t* canvas = nullptr;
    Clock::time_point createdAt;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<Clock::time_point> uploadTimes; // guarded by mutex
    bool stopping = false;                      // guarded by mutex
    std::thread graphics;
};

} // namespace faults
