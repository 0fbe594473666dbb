// Threads and open descriptors of this process, from /proc, for the before/after leak columns.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

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

// Datagrams the kernel dropped because a UDP socket's receive buffer was full, in this process's
// network namespace (the module's side of the car network): on a starved machine the poll thread
// falls behind and the loss happens here, not on the simulated air. -1 when unreadable.
inline int64_t udpReceiveBufferErrors() {
    std::ifstream snmp("/proc/self/net/snmp");
    std::string names;
    std::string values;
    while (std::getline(snmp, names) && std::getline(snmp, values)) {
        if (names.rfind("Udp:", 0) != 0) {
            continue;
        }
        std::istringstream n(names);
        std::istringstream v(values);
        std::string name;
        std::string value;
        while (n >> name && v >> value) {
            if (name == "RcvbufErrors") {
                return std::stoll(value);
            }
        }
    }
    return -1;
}

} // namespace faults
