#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "carsim/media/sps_timing.h"
#include "media/h264/bit_writer.h"
#include "media/h264/emulation_prevention.h"
#include "media/h264/sps_rewrite.h"
#include "media/h264/sps_syntax.h"
#include "tests/media/h264/crafted_sps.h"
#include "tests/media/h264/h264_streams.h"

namespace {

// The SPS NAL unit writeSps makes of the record (header byte 0x67, payload escaped).
Bytes written(const SpsRecord& sps) {
    std::array<uint8_t, 4096> buffer{};
    BitWriter writer(buffer);
    writeSps(writer, sps);
    writer.trailingBits();
    if (writer.failed()) {
        return {};
    }
    Bytes nal = {0x67};
    insertEmulationPrevention(writer.written(), nal);
    return nal;
}

TEST(SpsSyntax, RealSpsRoundTripsByteForByte) {
    for (const NamedStream& stream : realStreams()) {
        SCOPED_TRACE(stream.name);
        const Bytes sps = firstSps(stream.accessUnits);
        ASSERT_FALSE(sps.empty());
        const std::optional<SpsRecord> record = parseSpsNal(sps);
        ASSERT_TRUE(record);
        EXPECT_EQ(written(*record), sps);
        EXPECT_EQ(record->pic_width_in_mbs_minus1, 176 / 16 - 1);
    }
    // What the simulator says of its own timing.
    const auto timing = carsim::readSpsTiming(firstSps(realStream("car_vui_timing").accessUnits));
    const auto withTiming = parseSpsNal(firstSps(realStream("car_vui_timing").accessUnits));
    ASSERT_TRUE(timing && timing->present && withTiming);
    EXPECT_EQ(static_cast<uint32_t>(withTiming->num_units_in_tick), timing->numUnitsInTick);
    EXPECT_EQ(static_cast<uint32_t>(withTiming->time_scale), timing->timeScale);
}

// Scaling lists as delta_scale runs: the default list, a list cut short by a scale of 0, one
// that wraps around 256 at both ends of the delta range, and 8x8 lists where a trailing run is
// cheaper as zero deltas. Each run is the shortest coding, so writing gives the same bytes.
TEST(SpsSyntax, ScalingListsFollowTheDeltaRule) {
    std::vector<int32_t> eightByEight = {1};
    eightByEight.resize(62, 0);
    eightByEight.insert(eightByEight.end(), {1, 0});
    SpsKnobs knobs;
    knobs.scalingDeltas = {
        {-8}, {}, {4, 2, -2, -12}, {127, 127, -128, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
        {},   {}, eightByEight,    {-8}};
    const Bytes nal = craftSps(knobs);
    const std::optional<SpsRecord> sps = parseSpsNal(nal);
    ASSERT_TRUE(sps);
    EXPECT_EQ(sps->use_default_scaling_matrix_4x4_flag, (std::array<int32_t, 6>{1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sps->use_default_scaling_matrix_8x8_flag, (std::array<int32_t, 6>{0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(sps->seq_scaling_list_present_flag,
              (std::array<int32_t, 12>{1, 0, 1, 1, 0, 0, 1, 1, 0, 0, 0, 0}));
    std::array<int32_t, 16> cutShort;
    cutShort.fill(12);
    cutShort[1] = 14;
    EXPECT_EQ(sps->scaling_list_4x4[2], cutShort);
    EXPECT_EQ(sps->scaling_list_4x4[3],
              (std::array<int32_t, 16>{135, 6, 134, 135, 136, 137, 138, 139, 140, 141, 142, 143,
                                       144, 145, 146, 147}));
    EXPECT_EQ(sps->scaling_list_8x8[0][61], 9);
    EXPECT_EQ(sps->scaling_list_8x8[0][62], 10);
    EXPECT_EQ(sps->scaling_list_8x8[0][63], 10);
    EXPECT_EQ(written(*sps), nal);

    SpsKnobs yuv444;
    yuv444.profileIdc = 244;
    yuv444.chromaFormatIdc = 3;
    yuv444.scalingDeltas.resize(12);
    yuv444.scalingDeltas[11] = {-8};
    const std::optional<SpsRecord> twelve = parseSpsNal(craftSps(yuv444));
    ASSERT_TRUE(twelve);
    EXPECT_EQ(twelve->use_default_scaling_matrix_8x8_flag[5], 1);
    EXPECT_EQ(twelve->pic_width_in_mbs_minus1, 10) << "the syntax after the twelfth list";
}

struct LimitCase {
    const char* name;
    std::function<void(SpsKnobs&)> set;
    bool parses;
};

TEST(SpsSyntax, RejectsTheFirstValueBeyondEachLimit) {
    const LimitCase cases[] = {
        {"seq_parameter_set_id 31", [](SpsKnobs& k) { k.spsId = 31; }, true},
        {"seq_parameter_set_id 32", [](SpsKnobs& k) { k.spsId = 32; }, false},
        {"chroma_format_idc 3", [](SpsKnobs& k) { k.chromaFormatIdc = 3; }, true},
        {"chroma_format_idc 4", [](SpsKnobs& k) { k.chromaFormatIdc = 4; }, false},
        {"delta_scale 127",
         [](SpsKnobs& k) {
             k.scalingDeltas = {{127, 121}};
         },
         true},
        {"delta_scale 128",
         [](SpsKnobs& k) {
             k.scalingDeltas = {{128, 120}};
         },
         false},
        {"delta_scale -129", [](SpsKnobs& k) { k.scalingDeltas = {{-129}}; }, false},
        {"255 offsets in the order count cycle",
         [](SpsKnobs& k) { k.pocType = 1, k.pocCycleLength = 255; }, true},
        {"256 offsets", [](SpsKnobs& k) { k.pocType = 1, k.pocCycleLength = 256; }, false},
        {"pic_order_cnt_type 3", [](SpsKnobs& k) { k.pocType = 3; }, false},
        {"max_num_ref_frames 17", [](SpsKnobs& k) { k.maxNumRefFrames = 17; }, false},
        {"width 2^31 - 1 macroblocks", [](SpsKnobs& k) { k.widthMbsMinus1 = 0x7FFFFFFE; }, true},
        {"width 2^31 macroblocks", [](SpsKnobs& k) { k.widthMbsMinus1 = 0x7FFFFFFF; }, true},
        {"Exp-Golomb code 2^31", [](SpsKnobs& k) { k.widthMbsMinus1 = 0x80000000; }, false},
        {"32 CPBs", [](SpsKnobs& k) { k.vui = true, k.nalHrdCpbCntMinus1 = 31; }, true},
        {"33 CPBs", [](SpsKnobs& k) { k.vui = true, k.nalHrdCpbCntMinus1 = 32; }, false},
        {"max_dec_frame_buffering 17",
         [](SpsKnobs& k) {
             k.vui = true, k.restriction = {{1, 2, 1, 14, 14, 0, 17}};
         },
         false},
        {"VUI cut short",
         [](SpsKnobs& k) {
             k.vui = true, k.timing = {{1, 60}}, k.cutBytes = 3;
         },
         false},
        {"VUI timing complete",
         [](SpsKnobs& k) {
             k.vui = true, k.timing = {{1, 60}};
         },
         true},
    };
    for (const LimitCase& c : cases) {
        SpsKnobs knobs;
        c.set(knobs);
        const std::optional<SpsRecord> sps = parseSpsNal(craftSps(knobs));
        EXPECT_EQ(sps.has_value(), c.parses) << c.name;
    }
    EXPECT_FALSE(parseSpsNal(Bytes(100000, 0))) << "zeros only";
    EXPECT_FALSE(parseSpsNal(Bytes{0x67}));
    EXPECT_FALSE(parseSpsNal(Bytes{}));

    // Records the reader would refuse are not written either, and never index past an array.
    const std::function<void(SpsRecord&)> unwritable[] = {
        [](SpsRecord& s) { s.profile_idc = 100, s.chroma_format_idc = 4; },
        [](SpsRecord& s) {
            s.pic_order_cnt_type = 1, s.num_ref_frames_in_pic_order_cnt_cycle = 256;
        },
        [](SpsRecord& s) {
            s.vui_parameters_present_flag = 1, s.nal_hrd_parameters_present_flag = 1,
            s.nal_hrd.cpb_cnt_minus1 = 32;
        },
        [](SpsRecord& s) { s.frame_mbs_only_flag = 2; },
        [](SpsRecord& s) { s.pic_width_in_mbs_minus1 = -1; },
    };
    for (const auto& set : unwritable) {
        SpsRecord sps;
        set(sps);
        EXPECT_TRUE(written(sps).empty());
    }
}

} // namespace
