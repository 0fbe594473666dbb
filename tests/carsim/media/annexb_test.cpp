#include <gtest/gtest.h>

#include "carsim/media/annexb.h"
#include "carsim/media/annexb_file_source.h"
#include "carsim/media/rbsp_bits.h"
#include "carsim/media/slice_trailer.h"
#include "carsim/media/sps_timing.h"
#include "carsim/probe/wire_check.h"

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

// An SPS written element by element: 1280 x 720, VUI with an aspect ratio, optional timing
// (1 / 60, so its escaped form holds 00 00 03) and a bitstream restriction; the High-profile
// form adds the chroma syntax and one scaling list.
class SpsBuilder {
public:
    Bytes build(int profile, bool timing) {
        w_ = RbspWriter();
        w_.u(8, static_cast<uint32_t>(profile));
        w_.u(8, 0xC0); // constraint flags
        w_.u(8, 31);   // level
        ue(0);         // seq_parameter_set_id
        if (profile == 100) {
            ue(1);      // chroma_format_idc
            ue(0);      // bit_depth_luma_minus8
            ue(0);      // bit_depth_chroma_minus8
            w_.u(1, 0); // qpprime_y_zero_transform_bypass_flag
            w_.u(1, 1); // seq_scaling_matrix_present_flag
            w_.u(1, 1); // seq_scaling_list_present_flag[0]
            ue(16);     // delta_scale -8: next scale 0, the default list
            w_.u(7, 0); // the other seven lists absent
        }
        ue(0);      // log2_max_frame_num_minus4
        ue(2);      // pic_order_cnt_type
        ue(1);      // max_num_ref_frames
        w_.u(1, 0); // gaps_in_frame_num_value_allowed_flag
        ue(79);     // pic_width_in_mbs_minus1
        ue(44);     // pic_height_in_map_units_minus1
        w_.u(1, 1); // frame_mbs_only_flag
        w_.u(1, 1); // direct_8x8_inference_flag
        w_.u(1, 0); // frame_cropping_flag
        w_.u(1, 1); // vui_parameters_present_flag
        w_.u(1, 1); // aspect_ratio_info_present_flag
        w_.u(8, 1); // aspect_ratio_idc
        w_.u(3, 0); // overscan, video signal type, chroma location: absent
        w_.u(1, timing ? 1 : 0);
        if (timing) {
            w_.u(32, 1);  // num_units_in_tick
            w_.u(32, 60); // time_scale
            w_.u(1, 1);   // fixed_frame_rate_flag
        }
        w_.u(3, 0); // nal and vcl hrd, pic_struct_present_flag
        w_.u(1, 1); // bitstream_restriction_flag
        w_.u(1, 1);
        for (uint32_t v : {2u, 1u, 16u, 16u, 0u, 1u}) {
            ue(v);
        }
        w_.trailingBits();
        Bytes nal{0x67};
        const Bytes escaped = escapeRbsp(w_.bytes());
        nal.insert(nal.end(), escaped.begin(), escaped.end());
        return nal;
    }

private:
    void ue(uint32_t v) {
        int z = 0;
        while ((uint64_t{v} + 1) >> (z + 1)) {
            ++z;
        }
        w_.u(z, 0);
        w_.u(z + 1, v + 1);
    }
    RbspWriter w_;
};

TEST(SpsTiming, RemovingTimingKeepsEveryOtherBit) {
    for (int profile : {66, 100}) {
        SCOPED_TRACE(profile);
        SpsBuilder builder;
        const Bytes with = builder.build(profile, true);
        const Bytes without = builder.build(profile, false);
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
        wirecheck::cutAtLongStartCodes(appendSliceTrailers(joinAnnexB({sps, idr, slice}), trailer));
    ASSERT_EQ(nals.size(), 3u);
    EXPECT_EQ(nals[0], sps);
    for (size_t i : {size_t{1}, size_t{2}}) {
        ASSERT_EQ(nals[i].size(), 3 + trailer.size());
        EXPECT_TRUE(std::equal(trailer.begin(), trailer.end(), nals[i].begin() + 3));
    }
}

} // namespace
} // namespace carsim
