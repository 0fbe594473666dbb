#include "media/h264/slice_trailer.h"

namespace {

int16_t int16At(SliceTrailerBytes t, size_t offset) {
    return static_cast<int16_t>((t[offset] << 8) | t[offset + 1]);
}

// Full scale of the signed 16-bit value is +-8.
float scaledAt(SliceTrailerBytes t, size_t offset) {
    return static_cast<float>(int16At(t, offset) / 32767.0 * 8.0);
}

} // namespace

std::optional<TrailedSlice> splitSliceTrailer(std::span<const uint8_t> nal) {
    if (nal.size() <= kSliceTrailerSize) {
        return std::nullopt;
    }
    const size_t sliceSize = nal.size() - kSliceTrailerSize;
    return TrailedSlice{nal.first(sliceSize), nal.subspan(sliceSize).first<kSliceTrailerSize>()};
}

std::optional<SliceTelemetry> readSliceTrailer(SliceTrailerBytes t) {
    if (t[0] != 0x53 || t[1] != 0x40 || t[24] != 0x0D || t[25] != 0x0A) {
        return std::nullopt;
    }
    SliceTelemetry v;
    v.trailerFloat0 = scaledAt(t, 2);
    v.trailerFloat1 = scaledAt(t, 4);
    v.trailerFloat2 = scaledAt(t, 6);
    v.statusByte1 = t[8];
    v.trailerInt0 = int16At(t, 9);
    v.trailerInt1 = int16At(t, 11);
    v.trailerInt2 = int16At(t, 13);
    v.trailerByte0 = t[16];
    v.statusByte2 = t[17];
    v.statusFlag0 = (t[18] & 0x01) != 0;
    v.gyroSteeringEnabled = (t[18] & 0x02) != 0;
    v.motorsDisengaged = (t[18] & 0x04) != 0;
    v.trailerSigned0 = static_cast<int8_t>(t[19]);
    v.trailerSigned1 = static_cast<int8_t>(t[20]);
    v.trailerByte1 = t[21];
    v.trailerByte2 = t[22];
    v.trailerByte3 = t[23];
    v.deviceFlags = t[26];
    v.trailerWord = uint32_t{t[27]} | (uint32_t{t[28]} << 8) | (uint32_t{t[29]} << 16) |
                    (uint32_t{t[30]} << 24);
    return v;
}

void storeSliceTelemetry(const SliceTelemetry& v, MdvTelemetry& telemetry) {
    telemetry.statusFlag0 = v.statusFlag0;
    telemetry.gyroSteeringEnabled = v.gyroSteeringEnabled;
    telemetry.motorsDisengaged = v.motorsDisengaged;
    telemetry.trailerFloat0 = v.trailerFloat0;
    telemetry.trailerFloat1 = v.trailerFloat1;
    telemetry.trailerFloat2 = v.trailerFloat2;
    telemetry.statusByte1 = v.statusByte1;
    telemetry.trailerInt0 = v.trailerInt0;
    telemetry.trailerInt1 = v.trailerInt1;
    telemetry.trailerInt2 = v.trailerInt2;
    telemetry.trailerByte0 = v.trailerByte0;
    telemetry.statusByte2 = v.statusByte2;
    telemetry.trailerSigned0 = v.trailerSigned0;
    telemetry.trailerSigned1 = v.trailerSigned1;
    telemetry.trailerByte1 = v.trailerByte1;
    telemetry.trailerByte2 = v.trailerByte2;
    telemetry.trailerByte3 = v.trailerByte3;
    telemetry.trailerWord = v.trailerWord;
}
