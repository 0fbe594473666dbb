// Cutting a received frame into NAL units. The cars separate NAL units with 4-byte start codes
// (00 00 00 01) only; 3-byte ones are not looked for. Cutting copies nothing: each NAL unit is a
// span over the frame's own bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

using NalSpan = std::span<const uint8_t>;

inline constexpr int kNalNonIdrSlice = 1;
inline constexpr int kNalIdrSlice = 5;
inline constexpr int kNalSps = 7;
inline constexpr int kNalPps = 8;

// nal_unit_type of a NAL unit (header byte first); -1 for an empty one.
inline int nalUnitType(NalSpan nal) {
    return nal.empty() ? -1 : nal[0] & 0x1F;
}

// Where the first 00 00 00 01 at or after `from` begins, if it begins before size - 4; size
// when there is none. A start code whose 01 is the frame's last byte is therefore not one.
size_t findStartCode(const uint8_t* data, size_t size, size_t from);

// Calls onNal(NalSpan) for every NAL unit of the frame, in order. A NAL unit runs from the end
// of its start code to the next start code or the end of the frame; bytes before the first
// start code are skipped, and empty NAL units (two start codes in a row) are not passed on.
template <class OnNal>
void forEachNalUnit(std::span<const uint8_t> frame, OnNal&& onNal) {
    size_t startCode = findStartCode(frame.data(), frame.size(), 0);
    while (startCode < frame.size()) {
        const size_t begin = startCode + 4;
        startCode = findStartCode(frame.data(), frame.size(), begin);
        if (startCode > begin) {
            onNal(frame.subspan(begin, startCode - begin));
        }
    }
}

// The frame's NAL units as spans into it; nals is cleared first and keeps its capacity.
void cutNalUnits(std::span<const uint8_t> frame, std::vector<NalSpan>& nals);
