// Waiting helpers and a recording listener shared by the client tests.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "client/md_video_client_interface.h"

namespace client_test {

constexpr auto generousBound = std::chrono::seconds(10);

// Polls `done` until it holds or the bound has passed; returns whether it held.
inline bool waitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + generousBound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

// A one-shot gate: threads wait until it is opened.
class Gate {
public:
    void open() {
        {
            std::lock_guard lock(mutex);
            isOpen = true;
        }
        cond.notify_all();
    }
    bool wait() {
        std::unique_lock lock(mutex);
        return cond.wait_for(lock, generousBound, [this] { return isOpen; });
    }

private:
    std::mutex mutex;
    std::condition_variable cond;
    bool isOpen = false;
};

// Records what a client or collector reports. Hooks run inside the callbacks.
class RecordingListener final : public MdVideoClientInterface {
public:
    struct Frame {
        int32_t number;
        int64_t timestamp;
        std::vector<uint8_t> data;
    };

    void onDisconnected() override {
        ++disconnectedCalls;
        if (onDisconnectedHook) {
            onDisconnectedHook();
        }
    }
    void onTelemetry(const MdvTelemetry& telemetry) override {
        ++telemetryCalls;
        if (onTelemetryHook) {
            onTelemetryHook(telemetry);
        }
    }
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
            if (answerStatistics) {
                ask = answerStatistics(stats);
            }
        }
        reportCond.notify_all();
        if (throwFromStatistics) {
            throw std::runtime_error("listener failure");
        }
        return ask;
    }

    size_t reportCount() {
        std::lock_guard lock(mutex);
        return reports.size();
    }
    std::vector<MdvStreamStats> reportsCopy() {
        std::lock_guard lock(mutex);
        return reports;
    }
    // Waits until at least `count` reports have arrived.
    bool waitForReports(size_t count) {
        std::unique_lock lock(mutex);
        return reportCond.wait_for(lock, generousBound, [&] { return reports.size() >= count; });
    }
    // Waits until the reports seen so far (at least one) satisfy `done`.
    bool waitForReports(const std::function<bool(const std::vector<MdvStreamStats>&)>& done) {
        std::unique_lock lock(mutex);
        return reportCond.wait_for(lock, generousBound,
                                   [&] { return !reports.empty() && done(reports); });
    }

    std::atomic<int> disconnectedCalls{0};
    std::atomic<int> telemetryCalls{0};
    std::function<void()> onDisconnectedHook;
    std::function<void(const MdvTelemetry&)> onTelemetryHook;
    // Set before the listener is attached; called under the listener's mutex.
    std::function<bool(const MdvStreamStats&)> answerStatistics;
    std::atomic<bool> throwFromStatistics{false};

    std::mutex mutex;
    std::condition_variable reportCond;
    std::vector<Frame> frames;           // guarded by mutex
    std::vector<MdvStreamStats> reports; // guarded by mutex
};

} // namespace client_test
