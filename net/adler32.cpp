#include "net/adler32.h"

namespace {
constexpr uint32_t kModulus = 65521;
// Largest run of bytes whose sums cannot overflow 32 bits before the modulo is taken.
constexpr uint32_t kMaxRun = 5552;
} // namespace

uint32_t adler32(uint32_t start, const uint8_t* bytes, uint32_t length) {
    uint32_t a = start & 0xFFFFu;
    uint32_t b = start >> 16;
    while (length > 0) {
        const uint32_t run = length < kMaxRun ? length : kMaxRun;
        for (uint32_t i = 0; i < run; ++i) {
            a += bytes[i];
            b += a;
        }
        a %= kModulus;
        b %= kModulus;
        bytes += run;
        length -= run;
    }
    return (b << 16) | a;
}
