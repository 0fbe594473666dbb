// Writes an H.264 RBSP most significant bit first into a buffer it does not own. The buffer's
// bytes need not be cleared beforehand: every written bit sets or clears its bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

class BitWriter {
public:
    explicit BitWriter(std::span<uint8_t> buffer)
        : start_(buffer.data()), cursor_(buffer.data()), end_(buffer.data() + buffer.size()) {}

    // u(n), n from 0 to 32: the low n bits of value. A value that needs more bits fails.
    void u(int bits, uint32_t value);
    // ue(v), 0 .. 2^32 - 2 (the largest code number of 32 leading zeros and less).
    void ue(uint32_t value);
    // se(v): the values whose code number ue(v) can write.
    void se(int32_t value);
    // rbsp_trailing_bits(): a one bit, then zero bits up to the byte boundary.
    void trailingBits();

    // Sticky: set by a bit beyond the end of the buffer (it is dropped) or by a value its code
    // cannot hold; the caller marks it too when a record holds something it cannot write.
    bool failed() const { return failed_; }
    void fail() { failed_ = true; }

    // The bytes from the buffer's start up to the cursor (complete bytes only).
    std::span<const uint8_t> written() const {
        return {start_, static_cast<size_t>(cursor_ - start_)};
    }
    bool byteAligned() const { return bitsLeft_ == 8; }

private:
    void bit(uint32_t value);
    void bits(int count, uint64_t value);

    uint8_t* start_;
    uint8_t* cursor_;
    uint8_t* end_;     // one past the last byte
    int bitsLeft_ = 8; // bits of the byte at the cursor not yet written
    bool failed_ = false;
};
