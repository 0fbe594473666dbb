// How many threads this process has, for tests that check a component leaves none behind.
// A thread that has been joined stays listed for a moment while the kernel finishes taking
// it down, so a count taken just after a join may still include it: a test that expects a
// count to drop waits for it.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/syscall.h>
#include <sys/types.h>
#include <thread>
#include <unistd.h>

namespace census {

inline int entriesIn(const std::filesystem::path& folder) {
    std::error_code error;
    int count = 0;
    for (auto it = std::filesystem::directory_iterator(folder, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++count;
    }
    return count;
}

inline int threadCount() {
    // A sanitizer runtime starts a helper thread of its own with the process's first thread;
    // start one first so that helper is already there in every count, and let that first
    // thread leave the listing, or the first count of a test would include it.
    static const int settled = [] {
        pid_t tid = 0;
        std::thread([&tid] { tid = static_cast<pid_t>(::syscall(SYS_gettid)); }).join();
        const std::string listing = "/proc/self/task/" + std::to_string(tid);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::error_code error;
        while (std::filesystem::exists(listing, error) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return 0;
    }();
    return entriesIn("/proc/self/task") + settled;
}

// Less the descriptor of the directory listing itself.
inline int openDescriptorCount() {
    return entriesIn("/proc/self/fd") - 1;
}

} // namespace census
