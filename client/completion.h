// A one-shot completion flag: one thread signals, any number wait. A signal given before the
// wait begins is not missed.
#pragma once

#include <condition_variable>
#include <mutex>

class Completion {
public:
    // Notifies under the lock: a waiter that owns the completion may destroy it as soon as it
    // sees done_, which it cannot before this call has released the lock.
    void signal() {
        std::lock_guard lock(mutex_);
        done_ = true;
        changed_.notify_all();
    }

    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return done_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_; // paired with mutex_
    bool done_ = false;               // guarded by mutex_
};
