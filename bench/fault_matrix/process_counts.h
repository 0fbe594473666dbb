// Threads and open descriptors of this process, from /proc, for the before/after leak columns.
#pragma once

#include <filesystem>
#include <iterator>

namespace faults {

struct ProcessCounts {
    int threads = 0;
    int descriptors = 0;
};

inline ProcessCounts processCounts() {
    namespace fs = std::filesystem;
    const auto entries = [](const char* folder) {
        return static_cast<int>(std::distance(fs::directory_iterator(folder), {}));
    };
    // The listing of /proc/self/fd holds a descriptor of its own while it runs.
    return {entries("/proc/self/task"), entries("/proc/self/fd") - 1};
}

} // namespace faults
