#include "bench/fault_matrix/source_under_test.h"

#include <pthread.h>

namespace faults {

LogTap::LogTap() {
    zeb_runner_set_log_handler(&LogTap::onLog, this);
}

LogTap::~LogTap() {
    zeb_runner_set_log_handler(nullptr, nullptr);
}

void LogTap::onLog(int level, const char* message, void* self) {
    auto* tap = static_cast<LogTap*>(self);
    std::lock_guard lock(tap->mutex);
    tap->kept.push_back(LogLine{Clock::now(), level, message});
}

void LogTap::restart() {
    std::lock_guard lock(mutex);
    kept.clear();
}

std::vector<LogLine> LogTap::lines() const {
    std::lock_guard lock(mutex);
    return kept;
}

int LogTap::count(const std::string& text) const {
    std::lock_guard lock(mutex);
    int n = 0;
    for (const LogLine& line : kept) {
        n += line.text == text ? 1 : 0;
    }
    return n;
}

SourceUnderTest::SourceUnderTest(zeb_module_t* module) {
    canvas = zeb_canvas_create(1280, 720);
    createdAt = Clock::now();
    client = DrivonClient::create(nullptr, nullptr, module);
    if (!client) {
        return;
    }
    client->setActive(true);
    client->setHidden(false);
    graphics = std::thread(&SourceUnderTest::renderLoop, this);
}

SourceUnderTest::~SourceUnderTest() {
    destroy();
    zeb_canvas_destroy(canvas);
}

SourceState SourceUnderTest::state() const {
    return client ? client->currentState() : SourceState::Scanning;
}

std::chrono::duration<double, std::milli> SourceUnderTest::destroy() {
    if (graphics.joinable()) {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        graphics.join();
    }
    if (!client) {
        return {};
    }
    client->setHidden(true);
    client->setActive(false);
    const auto start = Clock::now();
    client.reset();
    return Clock::now() - start;
}

std::vector<Clock::time_point> SourceUnderTest::uploads() const {
    std::lock_guard lock(mutex);
    return uploadTimes;
}

bool SourceUnderTest::waitUploads(size_t count, std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, bound, [&] { return uploadTimes.size() >= count; });
}

void SourceUnderTest::renderLoop() noexcept {
    pthread_setname_np(pthread_self(), "bench-graphics");
    const auto period = std::chrono::nanoseconds(1'000'000'000 / kRenderRate);
    auto next = Clock::now();
    uint64_t uploadsSeen = 0;
    std::unique_lock lock(mutex);
    while (!stopping) {
        lock.unlock();
        zeb_canvas_begin(canvas, 0xFF000000);
        client->render();
        zeb_canvas_end(canvas);
        const uint64_t uploads = zeb_canvas_get_stats(canvas).uploads;
        lock.lock();
        for (; uploadsSeen < uploads; ++uploadsSeen) {
            uploadTimes.push_back(Clock::now());
        }
        changed.notify_all();
        // The host's frame pacing: a render pass every 33 ms, whatever the source does.
        next += period;
        if (next < Clock::now()) {
            next = Clock::now();
        }
        changed.wait_until(lock, next, [this] { return stopping; });
    }
}

} // namespace faults
