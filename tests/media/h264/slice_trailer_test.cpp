#include <array>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "carsim/media/slice_trailer.h"
#include "media/h264/slice_trailer.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::array<uint8_t, 32> trailerWith(std::initializer_list<std::pair<size_t, uint8_t>> bytes) {
    std::array<uint8_t, 32> t{};
    t[0] = 0x53, t[1] = 0x40, t[24] = 0x0D, t[25] = 0x0A;
    for (const auto& [offset, value] : bytes) {
        t[offset] = value;
    }
    return t;
}

TEST(SliceTrailer, ReadsEveryFieldAtItsOffset) {
    const auto t = trailerWith(
        {{2, 0x7F},  {3, 0xFF},  {4, 0x80},  {5, 0x00},  {6, 0x40},  {7, 0x00},  {8, 0x9C},
         {9, 0xFF},  {10, 0xFE}, {11, 0x01}, {12, 0x02}, {13, 0x80}, {14, 0x00}, {15, 0xEE},
         {16, 0xA1}, {17, 0xA2}, {18, 0xFD}, {19, 0xFF}, {20, 0x80}, {21, 0xB1}, {22, 0xB2},
         {23, 0xB3}, {26, 0x0B}, {27, 0x01}, {28, 0x00}, {29, 0x00}, {30, 0x00}, {31, 0xEE}});
    const std::optional<SliceTelemetry> v = readSliceTrailer(t);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->deviceFlags, 0x0B);
    MdvTelemetry m;
    m.sdSpace = 77;
    m.statusByte0 = 5;
    storeSliceTelemetry(*v, m);
    EXPECT_EQ(m.trailerFloat0, 8.0f);
    EXPECT_NEAR(m.trailerFloat1, -8.000244f, 1e-5);
    EXPECT_NEAR(m.trailerFloat2, 4.000122f, 1e-5);
    EXPECT_EQ(m.statusByte1, 0x9Cu);
    EXPECT_EQ((std::array{m.trailerInt0, m.trailerInt1, m.trailerInt2}),
              (std::array{-2, 0x0102, -32768}));
    EXPECT_EQ(m.trailerByte0, 0xA1);
    EXPECT_EQ(m.statusByte2, 0xA2u);
    EXPECT_EQ((std::array{m.statusFlag0, m.gyroSteeringEnabled, m.motorsDisengaged}),
              (std::array{true, false, true}));
    EXPECT_EQ((std::array{m.trailerSigned0, m.trailerSigned1}), (std::array{-1, -128}));
    EXPECT_EQ((std::array{m.trailerByte1, m.trailerByte2, m.trailerByte3}),
              (std::array<uint8_t, 3>{0xB1, 0xB2, 0xB3}));
    EXPECT_EQ(m.trailerWord, 1u);
    EXPECT_EQ(m.sdSpace, 77) << "fields of the heartbeat stay";
    EXPECT_EQ(m.statusByte0, 5);
    EXPECT_FALSE(m.deviceFlag0) << "device flags are the client's to apply";
}

TEST(SliceTrailer, RefusesAWrongCheckByteAndReadsTheSimulatorsTrailers) {
    for (const size_t offset : {0, 1, 24, 25}) {
        auto t = trailerWith({});
        t[offset] ^= 0x01;
        EXPECT_FALSE(readSliceTrailer(t)) << offset;
    }
    const carsim::SliceTrailer fromCar = carsim::makeSliceTrailer(1234, 30, 0x0B);
    const std::optional<SliceTelemetry> v = readSliceTrailer(fromCar);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->deviceFlags, 0x0B);
    EXPECT_EQ(v->trailerWord, 1234u);
}

TEST(SliceTrailer, SplitsOnlyANalUnitLongerThanItsTrailer) {
    EXPECT_FALSE(splitSliceTrailer(Bytes(32, 0x41)));
    EXPECT_FALSE(splitSliceTrailer(Bytes{}));
    Bytes nal(33, 0);
    nal[0] = 0x41;
    nal[1] = 0x53;
    const std::optional<TrailedSlice> split = splitSliceTrailer(nal);
    ASSERT_TRUE(split);
    EXPECT_EQ(split->slice.data(), nal.data());
    EXPECT_EQ(split->slice.size(), 1u);
    EXPECT_EQ(split->trailer.data(), nal.data() + 1);
}

} // namespace
