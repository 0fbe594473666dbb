#include "tests/e2e/host_harness.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <pthread.h>
#include <set>
#include <sstream>
#include <unistd.h>

#include "tests/module/loaded_module.h"
#include "tests/support/bounded_wait.h"
#include "tests/support/thread_census.h"

// The host objects handed to create; the module only passes them around.
struct zeb_data {
    int unused = 0;
};
struct zeb_source {
    int index = 0;
};

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

std::set<pid_t> taskIds() {
    std::set<pid_t> ids;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        ids.insert(static_cast<pid_t>(std::atoi(entry.path().filename().c_str())));
    }
    return ids;
}

std::string threadName(pid_t id) {
    std::ifstream in("/proc/self/task/" + std::to_string(id) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

} // namespace

uint32_t Picture::pixel(uint32_t x, uint32_t y) const {
    const size_t at = (static_cast<size_t>(y) * kWidth + x) * 4;
    return static_cast<uint32_t>(pixels[at]) | static_cast<uint32_t>(pixels[at + 1]) << 8 |
           static_cast<uint32_t>(pixels[at + 2]) << 16 |
           static_cast<uint32_t>(pixels[at + 3]) << 24;
}

struct Host::Source {
    int number = 0;
    zeb_data settings;
    zeb_source source;
    void* data = nullptr; // null once destroyed
    zeb_canvas_t* canvas = nullptr;
    pid_t deviceThread = 0;

    ~Source() { zeb_canvas_destroy(canvas); }
};

Host::Host() {
    zeb_runner_set_log_handler(&Host::onLog, this);
    module = std::make_unique<LoadedModule>();
    if (!module->ok()) {
        return;
    }
    info = &module->source();
    graphics = std::thread([this] { renderLoop(); });
    ready = true;
}

Host::~Host() {
    std::vector<int> alive;
    {
        std::lock_guard lock(sourcesMutex);
        for (const auto& source : sources) {
            if (source->data) {
                alive.push_back(source->number);
            }
        }
    }
    for (int number : alive) {
        destroySource(number);
    }
    {
        std::lock_guard lock(eventMutex);
        stopping = true;
    }
    eventCv.notify_all();
    if (graphics.joinable()) {
        graphics.join();
    }
    sources.clear();
    module.reset();
    zeb_runner_set_log_handler(nullptr, nullptr);
}

void Host::onLog(int level, const char* message, void* param) {
    auto* host = static_cast<Host*>(param);
    {
        std::lock_guard lock(host->logMutex);
        host->lines.push_back({level, message, ::gettid()});
    }
    host->signalEvent();
}

void Host::signalEvent() {
    {
        std::lock_guard lock(eventMutex);
        ++events;
    }
    eventCv.notify_all();
}

int Host::createSource() {
    if (!ready) {
        return -1;
    }
    auto source = std::make_unique<Source>();
    {
        std::lock_guard lock(sourcesMutex);
        source->number = static_cast<int>(sources.size());
    }
    source->source.index = source->number;
    const std::set<pid_t> before = taskIds();
    source->data = info->create(&source->settings, &source->source);
    if (!source->data) {
        return -1;
    }
    info->activate(source->data);
    info->show(source->data);
    // The device thread is the one new thread that names itself so; its lines are this
    // source's.
    const bool named = waitUntil([&] {
        for (pid_t id : taskIds()) {
            if (before.count(id) == 0 && threadName(id) == "drivon-device") {
                source->deviceThread = id;
                return true;
            }
        }
        return false;
    });
    EXPECT_TRUE(named) << "source " << source->number << " started no device thread";
    source->canvas = zeb_canvas_create(Picture::kWidth, Picture::kHeight);
    std::lock_guard lock(sourcesMutex);
    sources.push_back(std::move(source));
    return sources.back()->number;
}

std::chrono::milliseconds Host::destroySource(int number) {
    void* data = nullptr;
    {
        // Out of the render list first: no render pass can be running on it afterwards.
        std::lock_guard lock(sourcesMutex);
        if (Source* source = find(number)) {
            data = std::exchange(source->data, nullptr);
        }
    }
    if (!data) {
        return {};
    }
    info->hide(data);
    info->deactivate(data);
    const auto start = Clock::now();
    // A destroy that never returns ends the test process with a message instead of a hang.
    // Joined when it returns, so that no helper thread is left to blur thread counts.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread destroying([this, data, done] {
        info->destroy(data);
        done->set_value();
    });
    bounded::get(finished, "destroying a source");
    destroying.join();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

Host::Source* Host::find(int number) const {
    for (const auto& source : sources) {
        if (source->number == number) {
            return source.get();
        }
    }
    return nullptr;
}

Picture Host::picture(int number) const {
    Picture picture;
    std::lock_guard lock(sourcesMutex);
    if (const Source* source = find(number)) {
        const uint8_t* pixels = zeb_canvas_pixels(source->canvas);
        picture.pixels.assign(pixels, pixels + Picture::kWidth * Picture::kHeight * 4);
        picture.stats = zeb_canvas_get_stats(source->canvas);
    }
    return picture;
}

zeb_canvas_stats Host::stats(int number) const {
    std::lock_guard lock(sourcesMutex);
    const Source* source = find(number);
    return source ? zeb_canvas_get_stats(source->canvas) : zeb_canvas_stats{};
}

std::vector<LogLine> Host::log(int number) const {
    pid_t thread = 0;
    {
        std::lock_guard lock(sourcesMutex);
        if (const Source* source = find(number)) {
            thread = source->deviceThread;
        }
    }
    std::vector<LogLine> own;
    std::lock_guard lock(logMutex);
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(own),
                 [thread](const LogLine& line) { return line.thread == thread; });
    return own;
}

std::vector<LogLine> Host::log() const {
    std::lock_guard lock(logMutex);
    return lines;
}

bool Host::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    for (;;) {
        std::unique_lock lock(eventMutex);
        const uint64_t seen = events;
        lock.unlock();
        if (condition()) {
            return true;
        }
        lock.lock();
        if (!eventCv.wait_until(lock, deadline, [&] { return events != seen || stopping; })) {
            lock.unlock();
            return condition();
        }
    }
}

std::string Host::logoPath() const {
    return module ? module->config.logoPath() : std::string();
}

void Host::renderPass() {
    std::lock_guard lock(sourcesMutex);
    for (const auto& source : sources) {
        if (!source->data) {
            continue;
        }
        zeb_canvas_begin(source->canvas, 0);
        info->video_render(source->data, zeb_get_base_effect(ZEB_EFFECT_DEFAULT));
        zeb_canvas_end(source->canvas);
    }
}

void Host::renderLoop() noexcept {
    pthread_setname_np(pthread_self(), "e2e-graphics");
    const auto period = std::chrono::nanoseconds(1'000'000'000 / kFramesPerSecond);
    auto next = Clock::now();
    try {
        for (;;) {
            renderPass();
            signalEvent();
            // A late pass does not make the next ones hurry.
            next = std::max(next + period, Clock::now());
            std::unique_lock lock(eventMutex);
            if (eventCv.wait_until(lock, next, [this] { return stopping; })) {
                return;
            }
        }
    } catch (...) {
        ADD_FAILURE() << "the graphics thread failed";
    }
}

std::string describe(const std::vector<LogLine>& lines) {
    std::ostringstream out;
    for (const LogLine& line : lines) {
        out << "  [" << line.level << "] " << line.text << "\n";
    }
    return out.str();
}

int threadCount() {
    return census::threadCount();
}

int openDescriptorCount() {
    return census::openDescriptorCount();
}

} // namespace e2e
