// Waits with a generous bound for work that runs on another thread. A thread that never
// returns cannot be joined or abandoned safely (its future would block at destruction), so a
// wait that runs out ends the whole test process at once with a message saying what hung.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace bounded {

constexpr auto kBound = std::chrono::seconds(10);

template <typename T>
T get(std::future<T>& future, const char* what) {
    if (future.wait_for(kBound) != std::future_status::ready) {
        std::fprintf(stderr, "FAILED: %s did not return within %lld s\n", what,
                     static_cast<long long>(kBound.count()));
        std::fflush(stderr);
        std::_Exit(1);
    }
    return future.get();
}

// Runs `work` on a detached thread and waits for it.
inline void run(const std::function<void()>& work, const char* what) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([work, done] {
        work();
        done->set_value();
    }).detach();
    get(finished, what);
}

} // namespace bounded
