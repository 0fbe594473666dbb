#include "carsim/media/slice_trailer.h"

#include <algorithm>
#include <cmath>

namespace carsim {

namespace {

void putInt16(SliceTrailer& t, size_t at, long value) {
    const auto v = static_cast<uint16_t>(static_cast<int16_t>(std::clamp(value, -32768L, 32767L)));
    t[at] = static_cast<uint8_t>(v >> 8);
    t[at + 1] = static_cast<uint8_t>(v);
}

// Floats travel as signed 16-bit fractions of +-8.
void putScaled(SliceTrailer& t, size_t at, double value) {
    putInt16(t, at, std::lround(value / 8.0 * 32767.0));
}

uint8_t signedByte(long value) {
    return static_cast<uint8_t>(static_cast<int8_t>(std::clamp(value, -128L, 127L)));
}

// Two zeros followed by a byte of 3 or less would read as a start code (00 00 00 01 is where
// the receiver cuts) or need an emulation-prevention byte. Such a byte is nudged up: the values
// are simulated, a step of 4 in one of them is harmless. The fixed check bytes are never
// below 4, so they are never touched.
void avoidStartCodes(SliceTrailer& t) {
    for (size_t i = 0; i + 2 < t.size(); ++i) {
        if (t[i] == 0 && t[i + 1] == 0 && t[i + 2] <= 3) {
            t[i + 2] |= 0x04;
        }
    }
}

} // namespace

SliceTrailer makeSliceTrailer(int64_t frameIndex, int fps, uint8_t deviceFlags) {
    const double s = static_cast<double>(frameIndex) / std::max(fps, 1);
    SliceTrailer t{};
    t[0] = 0x53;
    t[1] = 0x40;
    putScaled(t, 2, 2.5 * std::sin(0.8 * s));  // lateral acceleration
    putScaled(t, 4, 1.2 * std::cos(0.8 * s));  // longitudinal acceleration
    putScaled(t, 6, -7.5 * std::sin(0.3 * s)); // yaw rate
    t[8] = static_cast<uint8_t>(100 - static_cast<int64_t>(s / 30) % 100); // battery percent
    putInt16(t, 9, std::lround(900 * std::sin(0.5 * s)));                  // speed
    putInt16(t, 11, std::lround(-300 * std::cos(0.25 * s)));               // steering
    putInt16(t, 13, static_cast<long>(frameIndex % 20000));                // odometer ticks
    t[15] = 0xFF;
    t[16] = static_cast<uint8_t>(std::lround(70 + 20 * std::sin(0.1 * s))); // signal
    t[17] = static_cast<uint8_t>(std::lround(35 + 5 * std::sin(0.05 * s))); // temperature
    const bool statusFlag = static_cast<int64_t>(s / 5) % 2 == 1;
    const bool motorsDisengaged = static_cast<int64_t>(s / 20) % 2 == 1;
    t[18] = static_cast<uint8_t>((statusFlag ? 1 : 0) | 2 | (motorsDisengaged ? 4 : 0));
    t[19] = signedByte(std::lround(100 * std::sin(0.7 * s)));
    t[20] = signedByte(std::lround(-60 * std::cos(0.4 * s)));
    t[21] = static_cast<uint8_t>(frameIndex % 251);
    t[22] = static_cast<uint8_t>(frameIndex / std::max(fps, 1) % 256);
    t[23] = 0x2A;
    t[24] = 0x0D;
    t[25] = 0x0A;
    t[26] = deviceFlags;
    const auto word = static_cast<uint32_t>(frameIndex);
    for (int i = 0; i < 4; ++i) {
        t[27 + i] = static_cast<uint8_t>(word >> (8 * i));
    }
    t[31] = 0xFF;
    avoidStartCodes(t);
    return t;
}

Bytes appendSliceTrailers(const Bytes& accessUnit, const SliceTrailer& trailer) {
    std::vector<Bytes> nals = splitAnnexB(accessUnit);
    for (Bytes& nal : nals) {
        if (isSliceNal(nal)) {
            nal.insert(nal.end(), trailer.begin(), trailer.end());
        }
    }
    return joinAnnexB(nals);
}

} // namespace carsim
