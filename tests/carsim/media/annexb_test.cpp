#include <gtest/gtest.h>

#include "carsim/media/annexb.h"
#include "carsim/media/annexb_file_source.h"
#include "carsim/media/slice_trailer.h"
#include "carsim/media/sps_timing.h"
#include "carsim/media/video_encoder.h"
#include "wire_decoding.h"

namespace carsim {
namespace {

TEST(AnnexB, SplitsAtThreeAndFourByteStartCodesAndJoinsWithFourByteOnes) {
    const Bytes stream = {0xAA, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3, 0, 0, 1, 0x65, 4, 0, 0};
    const auto nals = splitAnnexB(stream);
    ASSERT_EQ(nals.size(), 3u);
    EXPECT_EQ(nals[0], (Bytes{0x67, 1, 2}));
    EXPECT_EQ(nals[1], (Bytes{0x68, 3}));
    EXPECT_EQ(nals[2], (Bytes{0x65, 4}));
    EXPECT_EQ(joinAnnexB(nals),
              (Bytes{0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3, 0, 0, 0, 1, 0x65, 4}));
}

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

Bytes encodedSps(bool timing) {
    VideoEncoder encoder;
    EncoderSettings settings;
    settings.width = 320;
    settings.height = 240;
    settings.vuiTiming = timing;
    EXPECT_TRUE(encoder.open(settings)) << encoder.error();
    auto unit = encoder.encode(true);
    for (const Bytes& nal : test::cutAtLongStartCodes(unit.value_or(Bytes{}))) {
        if (nalType(nal) == 7) {
            return nal;
        }
    }
    return {};
}

TEST(SpsTiming, RemovingTimingKeepsEveryOtherBitAndIsIdempotent) {
    const Bytes with = encodedSps(true);
    const Bytes without = encodedSps(false);
    ASSERT_TRUE(readSpsTiming(with).value_or(SpsTiming{}).present);
    ASSERT_FALSE(readSpsTiming(without).value_or(SpsTiming{true}).present);
    // The encoder's own SPS with the timing block taken out is the one sent without timing.
    EXPECT_EQ(removeSpsTiming(with), without);
    EXPECT_EQ(removeSpsTiming(without), without);
    EXPECT_FALSE(removeSpsTiming(Bytes{0x67}));
    EXPECT_FALSE(removeSpsTiming(Bytes{0x68, 1, 2}));
}

TEST(SliceTrailer, ValuesChangeChecksHoldAndNoStartCodeAppears) {
    SliceTrailer previous{};
    int changed = 0;
    for (int64_t frame = 0; frame < 3000; ++frame) {
        const SliceTrailer t = makeSliceTrailer(frame, 30, 0x0B);
        ASSERT_EQ(t[0], 0x53);
        ASSERT_EQ(t[1], 0x40);
        ASSERT_EQ(t[24], 0x0D);
        ASSERT_EQ(t[25], 0x0A);
        ASSERT_EQ(t[26], 0x0B);
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
    EXPECT_EQ(t[27], 0x04);
    EXPECT_EQ(t[30], 0x01);
    // Flags and zero values that would form 00 00 00 01 are nudged away.
    const SliceTrailer zero = makeSliceTrailer(0, 30, 0);
    for (size_t i = 0; i + 3 < zero.size(); ++i) {
        EXPECT_FALSE(zero[i] == 0 && zero[i + 1] == 0 && zero[i + 2] == 0 && zero[i + 3] == 1);
    }
}

TEST(SliceTrailer, GoesOnEverySliceAndNothingElse) {
    const Bytes sps = {0x67, 1}, idr = {0x65, 0x88, 0x80}, slice = {0x41, 0x2A, 0x80};
    const SliceTrailer trailer = makeSliceTrailer(5, 30, 1);
    const auto nals =
        test::cutAtLongStartCodes(appendSliceTrailers(joinAnnexB({sps, idr, slice}), trailer));
    ASSERT_EQ(nals.size(), 3u);
    EXPECT_EQ(nals[0], sps);
    for (size_t i : {size_t{1}, size_t{2}}) {
        ASSERT_EQ(nals[i].size(), 3 + trailer.size());
        EXPECT_TRUE(std::equal(trailer.begin(), trailer.end(), nals[i].begin() + 3));
    }
}

} // namespace
} // namespace carsim
