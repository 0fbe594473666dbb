// Adler-32 checksum whose sums start from a caller-given value instead of the usual 1.
#pragma once

#include <cstdint>

// A and B start from the low and high 16 bits of `start`; the device protocol starts from 0.
uint32_t adler32(uint32_t start, const uint8_t* bytes, uint32_t length);
