#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace carsim {

using Bytes = std::vector<uint8_t>;

// NAL unit type of a NAL unit (header byte first, no start code); -1 for an empty one.
int nalType(const Bytes& nal);
bool isSliceNal(const Bytes& nal); // types 1 (non-IDR) and 5 (IDR)

// Splits an Annex B byte stream at every start code (00 00 01, with or without a leading zero).
// Trailing zero bytes of a NAL unit belong to the next start code and are removed; empty NAL
// units are skipped.
std::vector<Bytes> splitAnnexB(const uint8_t* data, size_t size);
inline std::vector<Bytes> splitAnnexB(const Bytes& data) {
    return splitAnnexB(data.data(), data.size());
}

// Joins NAL units with 4-byte start codes: the receiver cuts frames at 00 00 00 01 only.
Bytes joinAnnexB(const std::vector<Bytes>& nals);

// Removes emulation-prevention bytes (00 00 03 -> 00 00) from a NAL unit payload.
Bytes unescapeRbsp(const uint8_t* data, size_t size);
// Inserts emulation-prevention bytes where two zeros are followed by a byte of 3 or less.
Bytes escapeRbsp(const Bytes& rbsp);

} // namespace carsim
