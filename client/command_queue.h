// The queue between a client's callers and its command thread.
//
// Every command pushed completes exactly once: the command thread runs it, or the queue fails
// it at once with the failure it was built with, when the queue refuses it (closed) or discards
// it (closed or re-opened with commands left in it). A caller blocked on a command's outcome is
// therefore always released, whether or not a command thread still runs.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

template <typename Command>
class CommandQueue {
public:
    // Completes a command that will never run; called outside the queue's lock, on the thread
    // that pushed, closed or re-opened.
    using Fail = std::function<void(Command&)>;

    // Closed until the first open(): a command queued before a connect fails at once.
    explicit CommandQueue(Fail fail) : fail_(std::move(fail)) {}
    ~CommandQueue() { close(); }
    CommandQueue(const CommandQueue&) = delete;
    CommandQueue& operator=(const CommandQueue&) = delete;

    // Appends the command and wakes the command thread; false when the queue is closed, after
    // the command has been failed.
    bool push(std::unique_ptr<Command> command) {
        {
            std::lock_guard lock(mutex_);
            if (open_) {
                commands_.push_back(std::move(command));
                ready_.notify_one();
                return true;
            }
        }
        failOne(*command);
        return false;
    }

    // The next command, waiting while the queue is open and empty; null once it is closed.
    std::unique_ptr<Command> pop() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !open_ || !commands_.empty(); });
        if (!open_) {
            return nullptr;
        }
        std::unique_ptr<Command> command = std::move(commands_.front());
        commands_.pop_front();
        return command;
    }

    bool empty() const {
        std::lock_guard lock(mutex_);
        return commands_.empty();
    }

    // Fails whatever an earlier connection left queued, then accepts commands again.
    void open() { failAll(drain(true)); }

    // Fails every queued command, refuses later ones and wakes every waiting command thread.
    void close() { failAll(drain(false)); }

private:
    std::deque<std::unique_ptr<Command>> drain(bool openAfter) {
        std::deque<std::unique_ptr<Command>> discarded;
        {
            std::lock_guard lock(mutex_);
            discarded.swap(commands_);
            open_ = openAfter;
        }
        ready_.notify_all();
        return discarded;
    }

    void failAll(std::deque<std::unique_ptr<Command>> discarded) {
        for (const auto& command : discarded) {
            failOne(*command);
        }
    }

    void failOne(Command& command) noexcept {
        try {
            if (fail_) {
                fail_(command);
            }
        } catch (...) {
            // A completion that throws has still completed; the next command must not suffer.
        }
    }

    const Fail fail_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;                 // paired with mutex_
    std::deque<std::unique_ptr<Command>> commands_; // guarded by mutex_
    bool open_ = false;                             // guarded by mutex_
};
