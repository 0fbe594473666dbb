#include <gtest/gtest.h>

#include "carsim/media/annexb.h"
#include "carsim/media/annexb_file_source.h"
#include "carsim/media/slice_trailer.h"
#include "carsim/media/sps_timing.h"

namespace carsim {
namespace {

TEST(AnnexB, EscapingRoundTripsAndLeavesNoStartCodeInside) {
    const Bytes rbsp = {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0};
    const Bytes escaped = escapeRbsp(rbsp);
    EXPECT_EQ(escaped, (Bytes{0, 0, 3, 0, 1, 0, 0, 3, 2, 0, 0, 3, 3, 0, 0, 4, 0, 0}));
    EXPECT_EQ(unescapeRbsp(escaped.data(), escaped.size()), rbsp);
}

TEST(AnnexBFileSource, CutsAccessUnitsAtDelimitersParameterSetsAndFirstSlices) {
    const Bytes sps = {0x67, 1}, pps = {0x68, 2}, sei = {0x06, 3}, aud = {0x09, 0xF0};
    const Bytes idr = {0x65, 0x88}, first = {0x41, 0x9A},
                second = {0x41, 0x2A}; // first_mb 0, 0, >0
    const auto units = AnnexBFileSource::splitAccessUnits(
        joinAnnexB({sps, pps, idr, first, second, sei, first, aud, first, aud}));
    ASSERT_EQ(units.size(), 4u);
    EXPECT_EQ(units[0], joinAnnexB({sps, pps, idr}));
    EXPECT_EQ(units[1], joinAnnexB({first, second}));
    EXPECT_EQ(units[2], joinAnnexB({sei, first}));
    EXPECT_EQ(units[3], joinAnnexB({aud, first}));
}

// SPSs of 1280 x 720 with a VUI holding an aspect ratio, timing (1 / 60, so the escaped form
// holds 00 00 03) or none, and a bitstream restriction; Baseline, and High with the chroma syntax
// and one default scaling list.
const Bytes kSps[2][2] = {
    {{0x67, 0x42, 0xC0, 0x1F, 0xDA, 0x01, 0x40, 0x16, 0xEC, 0x04, 0x40, 0x00,
      0x00, 0x03, 0x00, 0x40, 0x00, 0x00, 0x0F, 0x23, 0x68, 0x22, 0x11, 0xA8},
     {0x67, 0x42, 0xC0, 0x1F, 0xDA, 0x01, 0x40, 0x16, 0xEC, 0x04, 0x06, 0xD0, 0x44, 0x23, 0x50}},
    {{0x67, 0x64, 0xC0, 0x1F, 0xAD, 0x84, 0x40, 0x5A, 0x01, 0x40, 0x16, 0xEC, 0x04, 0x40,
      0x00, 0x00, 0x03, 0x00, 0x40, 0x00, 0x00, 0x0F, 0x23, 0x68, 0x22, 0x11, 0xA8},
     {0x67, 0x64, 0xC0, 0x1F, 0xAD, 0x84, 0x40, 0x5A, 0x01, 0x40, 0x16, 0xEC, 0x04, 0x06, 0xD0,
      0x44, 0x23, 0x50}},
};

TEST(SpsTiming, RemovingTimingKeepsEveryOtherBit) {
    for (const auto& [with, without] : kSps) {
        const auto timing = readSpsTiming(with);
        ASSERT_TRUE(timing);
        EXPECT_TRUE(timing->present);
        EXPECT_EQ(timing->numUnitsInTick, 1u);
        EXPECT_EQ(timing->timeScale, 60u);
        EXPECT_NE(unescapeRbsp(with.data(), with.size()), with) << "escaped form has 00 00 03";
        EXPECT_EQ(removeSpsTiming(with), without);
        EXPECT_EQ(removeSpsTiming(without), without);
        EXPECT_FALSE(readSpsTiming(without)->present);
    }
    EXPECT_FALSE(removeSpsTiming(Bytes{0x67}));
    EXPECT_FALSE(removeSpsTiming(Bytes{0x68, 1, 2}));
}

TEST(SliceTrailer, ValuesChangeChecksHoldAndNoStartCodeAppears) {
    SliceTrailer previous{};
    int changed = 0;
    for (int64_t frame = 0; frame < 3000; ++frame) {
        const SliceTrailer t = makeSliceTrailer(frame, 30, 0x0B);
        ASSERT_EQ((Bytes{t[0], t[1], t[24], t[25], t[26]}), (Bytes{0x53, 0x40, 0x0D, 0x0A, 0x0B}));
        for (size_t i = 0; i + 2 < t.size(); ++i) {
            ASSERT_FALSE(t[i] == 0 && t[i + 1] == 0 && t[i + 2] <= 3) << "frame " << frame;
        }
        ASSERT_NE(t[31], 0) << "a zero at the end would run into the next start code";
        if (frame > 0 && t[2] != previous[2]) {
            ++changed;
        }
        previous = t;
    }
    EXPECT_GT(changed, 1000);
    const SliceTrailer t = makeSliceTrailer(0x01020304, 30, 0);
    EXPECT_EQ((Bytes{t[27], t[30]}), (Bytes{0x04, 0x01})) << "frame index, little-endian";
    // Flags and zero values that would form 00 00 00 01 are nudged away.
    const SliceTrailer zero = makeSliceTrailer(0, 30, 0);
    for (size_t i = 0; i + 3 < zero.size(); ++i) {
        EXPECT_FALSE(zero[i] == 0 && zero[i + 1] == 0 && zero[i + 2] == 0 && zero[i + 3] == 1);
    }
}

} // namespace
} // namespace carsim
