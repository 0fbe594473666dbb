#include "media/h264/bit_reader.h"

#include <cstdint>

namespace {
// The longest run of leading zeros of a code number that still fits 0 .. 2^31 - 1.
constexpr int kMaxLeadingZeros = 31;
constexpr uint64_t kMaxCodeNumber = 0x7FFFFFFF;
} // namespace

uint32_t BitReader::bit() {
    if (cursor_ == end_) {
        // The cursor stays at the end: past it there are only zero bits and the failure.
        failed_ = true;
        return 0;
    }
    --bitsLeft_;
    const uint32_t value = (*cursor_ >> bitsLeft_) & 1u;
    if (bitsLeft_ == 0) {
        ++cursor_;
        bitsLeft_ = 8;
    }
    return value;
}

uint32_t BitReader::u(int bits) {
    uint32_t value = 0;
    for (int i = 0; i < bits; ++i) {
        value = (value << 1) | bit();
    }
    return value;
}

uint32_t BitReader::ue() {
    int leadingZeros = 0;
    while (bit() == 0) {
        // Also ends a run of zeros at the end of the data: bit() fails there and keeps
        // answering 0.
        if (failed_ || ++leadingZeros > kMaxLeadingZeros) {
            failed_ = true;
            return 0;
        }
    }
    const uint64_t value = (uint64_t{1} << leadingZeros) - 1 + u(leadingZeros);
    if (value > kMaxCodeNumber || failed_) {
        failed_ = true;
        return 0;
    }
    return static_cast<uint32_t>(value);
}

int32_t BitReader::se() {
    const uint32_t k = ue();
    // Odd code numbers are the positive values: 1, 2, 3, 4 ... map to 1, -1, 2, -2 ...
    if (k & 1u) {
        return static_cast<int32_t>((k + 1) / 2);
    }
    return -static_cast<int32_t>(k / 2);
}
