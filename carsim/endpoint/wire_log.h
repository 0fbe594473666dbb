#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <sys/socket.h>

namespace carsim {

// Records every message the car receives, one JSON line each, so tests can compare the exact
// bytes a client sent. Safe to call from every endpoint thread; does nothing when not opened.
class WireLog {
public:
    WireLog() = default;
    ~WireLog();
    WireLog(const WireLog&) = delete;
    WireLog& operator=(const WireLog&) = delete;

    bool open(const std::string& path);
    void record(const std::string& endpoint, const sockaddr_storage& peer, const void* data,
                size_t size);

private:
    std::mutex mutex;
    FILE* file = nullptr; // guarded by mutex
};

// Printable UTF-8: valid sequences and no control characters other than tab, CR and LF.
bool isPrintableUtf8(const std::string& text);

} // namespace carsim
