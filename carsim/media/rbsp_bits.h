#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace carsim {

// Reads an RBSP (emulation-prevention bytes already removed) most significant bit first.
// Reading past the end sets a sticky failure flag and yields zero bits.
class RbspReader {
public:
    explicit RbspReader(const std::vector<uint8_t>& rbsp) : data_(rbsp) {}

    uint32_t u(int bits);
    uint32_t ue();
    int32_t se();
    bool ok() const { return ok_; }
    size_t bitPosition() const { return position_; }
    size_t bitCount() const { return data_.size() * 8; }
    bool bitAt(size_t position) const;

private:
    const std::vector<uint8_t>& data_;
    size_t position_ = 0;
    bool ok_ = true;
};

class RbspWriter {
public:
    void u(int bits, uint32_t value);
    void bit(bool value);
    // rbsp_trailing_bits: a one bit, then zeros up to the byte boundary.
    void trailingBits();
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int bitsUsed_ = 8; // bits of the last byte already written
};

} // namespace carsim
