// The telemetry trailer a Sonix car appends to every slice NAL unit (32 bytes, big-endian
// unless marked):
//
//   0  53 40        check bytes
//   2  int16 x3     trailerFloat0..2 = value / 32767 * 8
//   8  u8           statusByte1
//   9  int16 x3     trailerInt0..2
//  15  --           not used
//  16  u8          trailerByte0
//  17  u8          statusByte2
//  18  flags        bit 0 statusFlag0, bit 1 gyroSteeringEnabled, bit 2 motorsDisengaged
//  19  int8 x2      trailerSigned0, trailerSigned1
//  21  u8 x3        trailerByte1..3
//  24  0D 0A        check bytes
//  26  u8           device flags (for the client's applyDeviceFlags)
//  27  uint32 LE    trailerWord
//  31  --           not used
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "client/mdv_records.h"

inline constexpr size_t kSliceTrailerSize = 32;

using SliceTrailerBytes = std::span<const uint8_t, kSliceTrailerSize>;

// A Sonix slice NAL unit split into the slice the decoder gets and the trailer.
struct TrailedSlice {
    std::span<const uint8_t> slice;
    SliceTrailerBytes trailer;
};

// None when the NAL unit is not longer than its trailer: it carries no slice, and the receiver
// drops it without looking at the trailer.
std::optional<TrailedSlice> splitSliceTrailer(std::span<const uint8_t> nal);

// What one trailer says, in MdvTelemetry's units.
struct SliceTelemetry {
    float trailerFloat0 = 0, trailerFloat1 = 0, trailerFloat2 = 0;
    uint32_t statusByte1 = 0;
    int32_t trailerInt0 = 0, trailerInt1 = 0, trailerInt2 = 0;
    uint8_t trailerByte0 = 0;
    uint32_t statusByte2 = 0;
    bool statusFlag0 = false, gyroSteeringEnabled = false, motorsDisengaged = false;
    int32_t trailerSigned0 = 0, trailerSigned1 = 0;
    uint8_t trailerByte1 = 0, trailerByte2 = 0, trailerByte3 = 0;
    uint8_t deviceFlags = 0; // byte 26, for applyDeviceFlags
    uint32_t trailerWord = 0;
};

// The trailer's values; none when one of its four check bytes is wrong.
std::optional<SliceTelemetry> readSliceTrailer(SliceTrailerBytes trailer);

// Copies the trailer's fields into the record (the device flags are the caller's to apply).
void storeSliceTelemetry(const SliceTelemetry& values, MdvTelemetry& telemetry);
