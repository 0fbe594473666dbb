#include "carsim/media/rbsp_bits.h"

namespace carsim {

bool RbspReader::bitAt(size_t position) const {
    if (position >= bitCount()) {
        return false;
    }
    return (data_[position / 8] >> (7 - position % 8)) & 1;
}

uint32_t RbspReader::u(int bits) {
    uint32_t value = 0;
    for (int i = 0; i < bits; ++i) {
        if (position_ >= bitCount()) {
            ok_ = false;
        }
        value = (value << 1) | (bitAt(position_) ? 1 : 0);
        ++position_;
    }
    return value;
}

uint32_t RbspReader::ue() {
    int zeros = 0;
    while (u(1) == 0) {
        if (!ok_ || ++zeros > 31) {
            ok_ = false;
            return 0;
        }
    }
    const uint32_t suffix = u(zeros);
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + suffix);
}

int32_t RbspReader::se() {
    const uint32_t k = ue();
    const auto half = static_cast<int32_t>((k + 1) / 2);
    return (k & 1) ? half : -half;
}

void RbspWriter::bit(bool value) {
    if (bitsUsed_ == 8) {
        bytes_.push_back(0);
        bitsUsed_ = 0;
    }
    if (value) {
        bytes_.back() |= static_cast<uint8_t>(0x80 >> bitsUsed_);
    }
    ++bitsUsed_;
}

void RbspWriter::u(int bits, uint32_t value) {
    for (int i = bits - 1; i >= 0; --i) {
        bit((value >> i) & 1);
    }
}

void RbspWriter::trailingBits() {
    bit(true);
    bitsUsed_ = 8;
}

} // namespace carsim
