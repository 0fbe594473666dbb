#include "media/h264/access_unit.h"

#include <array>

#include "media/h264/nal_units.h"

namespace {
constexpr std::array<uint8_t, 4> kStartCode = {0x00, 0x00, 0x00, 0x01};
} // namespace

void buildAccessUnit(std::span<const uint8_t> slice, std::span<const uint8_t> sps,
                     std::span<const uint8_t> pps, std::vector<uint8_t>& out) {
    out.clear();
    const bool idr = nalUnitType(slice) == kNalIdrSlice;
    if (idr) {
        out.reserve(3 * kStartCode.size() + sps.size() + pps.size() + slice.size());
        out.insert(out.end(), kStartCode.begin(), kStartCode.end());
        out.insert(out.end(), sps.begin(), sps.end());
        out.insert(out.end(), kStartCode.begin(), kStartCode.end());
        out.insert(out.end(), pps.begin(), pps.end());
    } else {
        out.reserve(kStartCode.size() + slice.size());
    }
    out.insert(out.end(), kStartCode.begin(), kStartCode.end());
    out.insert(out.end(), slice.begin(), slice.end());
}
