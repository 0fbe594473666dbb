// A fixed-period schedule on the steady clock that a stop cuts short: each deadline is counted
// from the previous deadline, not from the end of the work done in between, so a slow beat does
// not shift the ones after it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class PeriodicWake {
public:
    using Clock = std::chrono::steady_clock;

    explicit PeriodicWake(Clock::duration period) : period_(period) {}

    // The schedule starts now; a stop from an earlier run is forgotten.
    void start() {
        std::lock_guard lock(mutex_);
        stopped_ = false;
        deadline_ = Clock::now();
    }

    // Waits for the next deadline (at once when it has already passed). False once stopped.
    bool waitNext() {
        std::unique_lock lock(mutex_);
        deadline_ += period_;
        wake_.wait_until(lock, deadline_, [this] { return stopped_; });
        return !stopped_;
    }

    // Ends the current and every later wait until the next start().
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        wake_.notify_all();
    }

private:
    const Clock::duration period_;
    std::mutex mutex_;
    std::condition_variable wake_; // paired with mutex_
    bool stopped_ = false;         // guarded by mutex_
    Clock::time_point deadline_;   // guarded by mutex_
};
