// A scripted device client and a recording listener shared by the client tests.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "client/md_video_client.h"
#include "client/md_video_client_interface.h"

namespace client_test {

constexpr auto generousBound = std::chrono::seconds(10);
using Reports = std::vector<MdvStreamStats>;

inline uint32_t sumOfWord(const Reports& reports, size_t word) {
    return std::accumulate(
        reports.begin(), reports.end(), 0u,
        [word](uint32_t sum, const auto& report) { return sum + report.words[word]; });
}

// Polls `done` until it holds or the bound has passed; returns whether it held.
inline bool waitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + generousBound;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    return done();
}

// Records what a client or collector reports. Hooks run inside the callbacks.
class RecordingListener final : public MdVideoClientInterface {
public:
    using Frame = std::tuple<int32_t, int64_t, std::vector<uint8_t>>;

    void onDisconnected() override {
        ++disconnectedCalls;
        onDisconnectedHook();
    }
    void onTelemetry(const MdvTelemetry& telemetry) override { onTelemetryHook(telemetry); }
    void onVideoFrame(int32_t number, int64_t timestamp,
                      const std::vector<uint8_t>& data) override {
        std::lock_guard lock(mutex);
        frames.push_back({number, timestamp, data});
    }
    bool onStatistics(const MdvStreamStats& stats) override {
        bool ask = false;
        {
            std::lock_guard lock(mutex);
            reports.push_back(stats);
            ask = answerStatistics && answerStatistics(stats);
        }
        reportCond.notify_all();
        if (throwFromStatistics) {
            throw std::runtime_error("listener failure");
        }
        return ask;
    }

    Reports reportsCopy() {
        std::lock_guard lock(mutex);
        return reports;
    }
    // Waits until the reports seen so far (at least one) satisfy `done`.
    bool waitForReports(const std::function<bool(const Reports&)>& done) {
        std::unique_lock lock(mutex);
        return reportCond.wait_for(lock, generousBound,
                                   [&] { return !reports.empty() && done(reports); });
    }
    bool waitForReports(size_t count) {
        return waitForReports([count](const Reports& seen) { return seen.size() >= count; });
    }

    std::atomic<int> disconnectedCalls{0};
    std::function<void()> onDisconnectedHook = [] {};
    std::function<void(const MdvTelemetry&)> onTelemetryHook = [](const MdvTelemetry&) {};
    // Set before the listener is attached; called under the listener's mutex.
    std::function<bool(const MdvStreamStats&)> answerStatistics;
    std::atomic<bool> throwFromStatistics{false};

    std::mutex mutex;
    std::condition_variable reportCond;
    std::vector<Frame> frames; // guarded by mutex
    Reports reports;           // guarded by mutex
};

// A device client whose connect and disconnect are scripted by the test.
class FakeClient final : public MdVideoClient {
public:
    explicit FakeClient(MdVideoClientInterface* listener, bool disconnectsWhenDestroyed = true)
        : MdVideoClient(listener), disconnectsWhenDestroyed(disconnectsWhenDestroyed) {}
    // Takes the connection down while this object's disconnectImpl still exists (unless the
    // test checks that the base copes without that help).
    ~FakeClient() override {
        if (disconnectsWhenDestroyed) {
            disconnect();
        }
    }

    bool isStreaming() override { return false; }
    bool setConfigWifi(const MdvConfigWifi&) override { return false; }
    bool getSsidList(std::vector<std::string>&) override { return false; }
    bool setCameraSettings(const CameraSettings&) override { return false; }
    bool setCarConfig(const CarConfig&) override { return false; }
    void acknowledgeError(uint8_t) override {}
    bool isFirmwareUpdateAvailable() override { return false; }
    int32_t updateFirmware(std::function<void(float)>) override { return -1; }
    std::vector<std::pair<std::string, std::string>> getFirmwareVersions() override { return {}; }
    bool sendWheelControl(float, float) override { return false; }
    // Their slot numbers, so a test sees which one ran.
    int32_t startStreaming() override { return 11; }
    int32_t stopStreaming() override { return 12; }

    // Script: set while no teardown can run.
    std::atomic<int32_t> connectResult{MdvErrorNone};
    std::function<void()> onConnect;  // runs inside connectToDeviceImpl
    std::function<void()> onTeardown; // runs inside disconnectImpl
    // Counts teardowns where the count must outlive the client.
    std::atomic<int>* teardownCount = nullptr;

    std::atomic<int> connectCalls{0};
    std::atomic<int> disconnectCalls{0};

private:
    const bool disconnectsWhenDestroyed;
    MdvError connectToDeviceImpl(const sockaddr_storage&) override {
        ++connectCalls;
        if (onConnect) {
            onConnect();
        }
        return static_cast<MdvError>(connectResult.load());
    }
    int32_t disconnectImpl() override {
        ++disconnectCalls;
        if (teardownCount != nullptr) {
            ++*teardownCount;
        }
        if (onTeardown) {
            onTeardown();
        }
        return 0;
    }
};

} // namespace client_test
