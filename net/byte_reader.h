// Big-endian reader over bytes it does not own, with a sticky failure flag: callers read a run
// of fields and check `failed` once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ByteReader {
public:
    explicit ByteReader(const std::vector<uint8_t>& bytes);
    ByteReader(const uint8_t* bytes, size_t length);

    // Each read returns false, sets `failed` and leaves the cursor where it was when too few
    // bytes remain.
    bool readU16(uint16_t& value);
    bool readU32(uint32_t& value);
    bool readBytes(size_t count, std::vector<uint8_t>& out);

    int remaining();
    bool failed() const { return failed_; }

private:
    bool take(size_t count);

    const uint8_t* cursor_;
    const uint8_t* end_;
    bool failed_ = false;
};
