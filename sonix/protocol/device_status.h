// Values the car reports about itself: the heartbeat's status bytes, the device flags and the
// SD card's space.
//
// Heartbeat "bytes": ten hexadecimal digits, five bytes
//
//     byte 0  statusByte0
//     byte 1  statusByte1
//     byte 2  statusByte2
//     byte 3  bit 0 statusFlag0, bit 1 gyroSteeringEnabled, bit 2 motorsDisengaged
//     byte 4  device flags: bit 0..4 deviceFlag0..deviceFlag4
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace sonix {

// The five status bytes, or none unless the text is exactly five hexadecimal bytes.
std::optional<std::array<uint8_t, 5>> decodeStatusBytes(const std::string& hex);

// Whether the flags say a card is in and readable: bits 0 and 3 set, bit 4 clear. The SD space
// is read again each time this becomes true.
constexpr bool cardReadable(bool flag0, bool flag3, bool flag4) {
    return flag0 && flag3 && !flag4;
}

struct SdSpace {
    int32_t total = 0; // "totalspace" x 1024
    int32_t free = 0;  // "sdspace" percent of total
};

// "totalspace" x 1024 in 32-bit arithmetic (wrapping, as the car's own), and "sdspace" / 100 of
// that, truncated; a share beyond the 32-bit range saturates.
SdSpace sdSpaceFrom(int totalSpace, int sdSpacePercent);

} // namespace sonix
