#include "bench/live/live_source.h"

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <pthread.h>

#include "module/logo_image.h"
#include "zeb/zeb-runner.h"

namespace {

// The module installs its logo into its configuration folder at load; this host loads no
// module file, so it puts the logo there itself and the source draws it as in the product.
std::string makeConfigRoot() {
    char pattern[] = "/tmp/drivon-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        return {};
    }
    const std::string root = pattern;
    std::filesystem::create_directories(root + "/drivon");
    const auto logo = embeddedLogo();
    std::ofstream(root + "/drivon/dv_logo.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(logo.data()),
               static_cast<std::streamsize>(logo.size()));
    return root;
}

void sleepUntil(int64_t deadlineNs) {
    timespec at{static_cast<time_t>(deadlineNs / 1000000000),
                static_cast<long>(deadlineNs % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
    }
}

} // namespace

LiveSource::LiveSource(double renderFps, PictureTimeline::Yardstick yardstick)
    : fps(renderFps), configRoot(makeConfigRoot()), pictures(yardstick) {
    zeb_runner_set_config_root(configRoot.c_str());
    zeb_runner_set_log_handler(&LiveSource::onLog, this);
    module = zeb_runner_module_create("drivon");
    createStart = steadyNowNs();
    client = DrivonClient::create(nullptr, nullptr, module);
    created = steadyNowNs();
    if (!client) {
        return;
    }
    client->setPictureObserver(&pictures);
    client->setActive(true);
    client->setHidden(false);
    graphics = std::thread([this] { renderLoop(); });
}

LiveSource::~LiveSource() {
    stopRendering();
    client.reset();
    zeb_runner_module_destroy(module);
    zeb_runner_set_log_handler(nullptr, nullptr);
    zeb_runner_set_config_root(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(configRoot, ignored);
}

std::vector<RenderRecord> LiveSource::stopRendering() {
    stopRender = true;
    if (graphics.joinable()) {
        graphics.join();
    }
    return renders;
}

int LiveSource::logged(const std::string& text) const {
    std::lock_guard lock(logMutex);
    int count = 0;
    for (const Line& line : lines) {
        count += line.text.find(text) != std::string::npos ? 1 : 0;
    }
    return count;
}

int64_t LiveSource::firstLoggedNs(const std::string& text) const {
    std::lock_guard lock(logMutex);
    for (const Line& line : lines) {
        if (line.text.find(text) != std::string::npos) {
            return line.atNs;
        }
    }
    return -1;
}

void LiveSource::onLog(int /*level*/, const char* message, void* param) {
    auto* self = static_cast<LiveSource*>(param);
    std::lock_guard lock(self->logMutex);
    self->lines.push_back({steadyNowNs(), message});
}

void LiveSource::renderLoop() noexcept {
    pthread_setname_np(pthread_self(), "bench-graphics");
    try {
        zeb_canvas_t* canvas = zeb_canvas_create(1280, 720);
        const double periodNs = 1e9 / fps;
        const int64_t start = steadyNowNs();
        for (uint64_t frame = 0; !stopRender.load(); ++frame) {
            // Absolute deadlines, as a host's frame clock: a late frame does not shift the rest.
            sleepUntil(start + static_cast<int64_t>(std::llround(frame * periodNs)));
            RenderRecord record;
            record.startNs = steadyNowNs();
            zeb_canvas_begin(canvas, 0);
            client->render();
            zeb_canvas_end(canvas);
            record.endNs = steadyNowNs();
            record.depthAfter = static_cast<uint32_t>(client->queuedPictureCount());
            renders.push_back(record);
        }
        zeb_canvas_destroy(canvas);
    } catch (...) {
        // Out of memory for the records: rendering ends.
    }
}
