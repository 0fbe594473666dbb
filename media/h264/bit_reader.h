// Reads an H.264 RBSP (emulation-prevention bytes already removed) most significant bit first,
// over memory it does not own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> bytes)
        : start_(bytes.data()), cursor_(bytes.data()), end_(bytes.data() + bytes.size()) {}

    // u(n), n from 0 to 32.
    uint32_t u(int bits);
    // ue(v), limited to 0 .. 2^31 - 1 so that every value fits a signed 32-bit element.
    uint32_t ue();
    // se(v) over the same code numbers: -(2^30 - 1) .. 2^30.
    int32_t se();

    // Sticky: set by reading past the end or by an Exp-Golomb code beyond the limit above, and
    // never cleared. A read that fails yields 0; callers read a run of elements and look here at
    // a few checkpoints.
    bool failed() const { return failed_; }
    void fail() { failed_ = true; }

    size_t bitPosition() const { return static_cast<size_t>(cursor_ - start_) * 8 + 8 - bitsLeft_; }
    size_t bitsRemaining() const { return static_cast<size_t>(end_ - start_) * 8 - bitPosition(); }

private:
    uint32_t bit();

    const uint8_t* start_;
    const uint8_t* cursor_;
    const uint8_t* end_; // one past the last byte
    int bitsLeft_ = 8;   // bits of the byte at the cursor not yet read
    bool failed_ = false;
};
