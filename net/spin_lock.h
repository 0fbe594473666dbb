// The manager's lock. It is held across whole connects and sends (seconds at worst), so a
// waiter yields its core, and after a short while naps, instead of spinning hot.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

class SpinLock {
public:
    void lock() noexcept {
        int attempts = 0;
        while (state_.exchange(1, std::memory_order_acquire) != 0) {
            if (++attempts < kYieldAttempts) {
                std::this_thread::yield();
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    void unlock() noexcept { state_.store(0, std::memory_order_release); }

private:
    static constexpr int kYieldAttempts = 100;
    std::atomic<int> state_{0};
};
