#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace carsim {

// Cuts a TCP byte stream into the bare JSON objects a client writes back to back, without any
// delimiter: a read may hold several objects or part of one. Objects are found by matching
// braces outside strings (escapes respected); bytes between objects come out as pieces of
// their own so nothing received goes unrecorded.
class JsonSplitter {
public:
    struct Piece {
        std::string bytes;
        bool isObject = false;
    };

    // An object that grows past this without closing is dropped as junk.
    static constexpr size_t kMaxObject = 65536;

    void append(const char* data, size_t size) { buffer.append(data, size); }
    std::optional<Piece> next();

private:
    std::string buffer;
    size_t scanned = 0; // bytes of buffer's current object already scanned
    int depth = 0;
    bool inString = false;
    bool escaped = false;
};

} // namespace carsim
