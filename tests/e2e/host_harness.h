// A small host around bin/drivon.so, as the real host runs it: the module loaded through dlopen,
// sources created and destroyed at will (each activated and shown), every live source rendered
// at 30 frames a second on one graphics thread into a 1280 x 720 canvas of its own, and the
// module's log lines captured with the thread that wrote them, so each line can be told apart
// by the source whose device thread logged it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "zeb/zeb-runner.h"

class LoadedModule;

namespace e2e {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kBound = 10s;

struct LogLine {
    int level = 0;
    std::string text; // exactly as the module formatted it
    pid_t thread = 0;

    bool operator==(const LogLine& other) const {
        return level == other.level && text == other.text;
    }
    friend void PrintTo(const LogLine& line, std::ostream* out) {
        *out << "[" << line.level << "] " << line.text;
    }
};

// What one canvas showed after a render pass.
struct Picture {
    static constexpr uint32_t kWidth = 1280;
    static constexpr uint32_t kHeight = 720;

    std::vector<uint8_t> pixels; // RGBA, rows packed
    zeb_canvas_stats stats{};

    // Packed 0xAABBGGRR, as the canvas reports it.
    uint32_t pixel(uint32_t x, uint32_t y) const;
};

class Host {
public:
    static constexpr int kFramesPerSecond = 30;

    // Loads the module with a configuration folder of its own and starts the graphics thread.
    Host();
    // Destroys the sources still alive, ends the graphics thread, unloads the module.
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    bool ok() const { return ready; }

    // Creates a source, activates and shows it; its number, or -1 when create failed.
    int createSource();
    // Hides, deactivates and destroys the source; how long the destroy call took.
    std::chrono::milliseconds destroySource(int source);

    Picture picture(int source) const;
    zeb_canvas_stats stats(int source) const;
    // Lines logged by the source's device thread, in order.
    std::vector<LogLine> log(int source) const;
    // Every line the module logged, in order.
    std::vector<LogLine> log() const;

    // Re-checks the condition after every render pass and every log line until it holds or the
    // bound passes; whether it held.
    bool waitUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds bound = kBound);

    // The logo file the module installed in its configuration folder.
    std::string logoPath() const;

private:
    struct Source;

    static void onLog(int level, const char* message, void* param);
    void renderLoop() noexcept;
    void renderPass();
    void signalEvent();
    Source* find(int source) const;

    std::unique_ptr<LoadedModule> module;
    const zeb_source_info* info = nullptr;
    bool ready = false;

    mutable std::mutex sourcesMutex;
    std::vector<std::unique_ptr<Source>> sources; // guarded by sourcesMutex; destroyed ones stay

    mutable std::mutex logMutex;
    std::vector<LogLine> lines; // guarded by logMutex

    std::mutex eventMutex;
    std::condition_variable eventCv;
    uint64_t events = 0;   // guarded by eventMutex: render passes and log lines so far
    bool stopping = false; // guarded by eventMutex
    std::thread graphics;
};

// Formats lines for failure messages, one per line with the level in front.
std::string describe(const std::vector<LogLine>& lines);

// Counts of the calling process's threads and open descriptors.
int threadCount();
int openDescriptorCount();

} // namespace e2e
