// The wheel-control datagram (UDP 19267), 12 bytes:
//
//     offset 0  "WCTL"
//     offset 4  first value x 32767, truncated toward zero, signed 32-bit little-endian
//     offset 8  second value likewise
//
// Values are meant in -1..1 (full scale +-32767); larger ones are not clamped to that, but a
// product beyond the 32-bit range saturates and NaN sends 0.
#pragma once

#include <cstdint>
#include <vector>

namespace sonix {

int32_t wheelValue(float value);
std::vector<uint8_t> wheelPacket(float first, float second);

} // namespace sonix
