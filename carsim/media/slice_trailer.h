#pragma once

#include <array>

#include "carsim/media/annexb.h"

namespace carsim {

// The 32 telemetry bytes a Sonix car appends to every slice NAL unit.
//
//  0  53 40            check
//  2  int16 x3         three floats, value * 32767 / 8 (big-endian)
//  8  u8               status byte 1 (battery)
//  9  int16 x3         three ints (big-endian)
// 15  --               unused
// 16  u8, u8           byte 0 (signal), status byte 2 (temperature)
// 18  flags            bit 0 status flag, bit 1 gyro steering, bit 2 motors disengaged
// 19  int8, int8       two signed bytes
// 21  u8 x3            three bytes
// 24  0D 0A            check
// 26  u8               device flags
// 27  uint32 LE        word (frame counter)
// 31  --               unused
using SliceTrailer = std::array<uint8_t, 32>;

// The trailer of frame frameIndex: the values follow a car driving in slow circles, so they
// change from frame to frame. No byte run inside it looks like a start code or needs escaping.
SliceTrailer makeSliceTrailer(int64_t frameIndex, int fps, uint8_t deviceFlags);

// The access unit with the trailer at the end of each of its slice NAL units.
Bytes appendSliceTrailers(const Bytes& accessUnit, const SliceTrailer& trailer);

} // namespace carsim
