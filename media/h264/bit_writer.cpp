#include "media/h264/bit_writer.h"

#include <bit>
#include <cstdint>

namespace {
constexpr uint32_t kMaxCodeNumber = 0xFFFFFFFE;
} // namespace

void BitWriter::bit(uint32_t value) {
    if (cursor_ == end_) {
        failed_ = true;
        return;
    }
    --bitsLeft_;
    const auto mask = static_cast<uint8_t>(1u << bitsLeft_);
    *cursor_ = static_cast<uint8_t>((*cursor_ & ~mask) | (value ? mask : 0));
    if (bitsLeft_ == 0) {
        ++cursor_;
        bitsLeft_ = 8;
    }
}

void BitWriter::bits(int count, uint64_t value) {
    for (int i = count - 1; i >= 0; --i) {
        bit(static_cast<uint32_t>(value >> i) & 1u);
    }
}

void BitWriter::u(int count, uint32_t value) {
    if (count < 32 && (value >> count) != 0) {
        failed_ = true;
        return;
    }
    bits(count, value);
}

void BitWriter::ue(uint32_t value) {
    if (value > kMaxCodeNumber) {
        failed_ = true;
        return;
    }
    // z zeros, then value + 1 in z + 1 bits, z = floor(log2(value + 1)).
    const uint64_t codePlusOne = uint64_t{value} + 1;
    const int z = std::bit_width(codePlusOne) - 1;
    bits(z, 0);
    bits(z + 1, codePlusOne);
}

void BitWriter::se(int32_t value) {
    // 1, -1, 2, -2 ... have the code numbers 1, 2, 3, 4 ...
    const int64_t v = value;
    const int64_t code = v > 0 ? 2 * v - 1 : -2 * v;
    if (code > kMaxCodeNumber) {
        failed_ = true;
        return;
    }
    ue(static_cast<uint32_t>(code));
}

void BitWriter::trailingBits() {
    bit(1);
    // Terminates: at the end of the buffer bitsLeft_ is always 8.
    while (bitsLeft_ != 8) {
        bit(0);
    }
}
