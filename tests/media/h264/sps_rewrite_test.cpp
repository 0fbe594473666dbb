#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "carsim/media/sps_timing.h"
#include "media/h264/sps_rewrite.h"
#include "tests/media/h264/crafted_sps.h"
#include "tests/media/h264/h264_streams.h"

namespace {

SpsRecord recordOf(const Bytes& nal) {
    return parseSpsNal(nal).value_or(SpsRecord{});
}

bool holdsStartCodePrefix(const Bytes& nal) {
    for (size_t i = 0; i + 2 < nal.size(); ++i) {
        if (nal[i] == 0 && nal[i + 1] == 0 && nal[i + 2] <= 2) {
            return true;
        }
    }
    return false;
}

// The picture-level elements of the car's stream, with scaling lists (8 or, for 4:4:4, 12).
SpsKnobs withScalingLists(const Bytes& realSps) {
    SpsKnobs knobs = knobsLike(recordOf(realSps));
    knobs.scalingDeltas = {{-8}, {}, {4, 2, -2, -12}, {}, {}, {}, {20, -3, 7, -32}, {-8}};
    if (knobs.chromaFormatIdc == 3) {
        knobs.scalingDeltas.insert(knobs.scalingDeltas.end(), {{}, {12, 12, -32}, {}, {-8}});
    }
    return knobs;
}

// Every real SPS, and crafted ones: scaling lists, an order count cycle, 32 CPBs.
std::vector<Bytes> spsSamples() {
    std::vector<Bytes> samples;
    for (const NamedStream& stream : realStreams()) {
        samples.push_back(firstSps(stream.accessUnits));
    }
    samples.push_back(craftSps(withScalingLists(firstSps(realStream("x264_high").accessUnits))));
    samples.push_back(craftSps({.pocType = 1, .pocCycleLength = 255, .pocCycleOffset = -7000}));
    samples.push_back(craftSps({.vui = true, .timing = {{1001, 60000}}, .nalHrdCpbCntMinus1 = 31}));
    return samples;
}

TEST(SpsRewrite, AddsAVuiWithOnlyTheBitstreamRestriction) {
    SpsKnobs knobs = knobsLike(recordOf(firstSps(realStream("car").accessUnits)));
    knobs.maxNumRefFrames = 4;
    const Bytes withoutVui = craftSps(knobs);
    knobs.maxNumRefFrames = 1;
    knobs.vui = true;
    knobs.restriction = {{1, 2, 1, 14, 14, 0, 1}};
    const Bytes expected = craftSps(knobs);
    EXPECT_FALSE(holdsStartCodePrefix(expected)) << "the case where escaping changes nothing";
    EXPECT_EQ(rewriteSps(withoutVui), expected);
}

TEST(SpsRewrite, SetsOneReferenceFrameAndNoReorderingAndKeepsEverythingElse) {
    const Bytes original = firstSps(realStream("x264_refs4").accessUnits);
    SpsRecord expected = recordOf(original);
    ASSERT_EQ(expected.max_num_ref_frames, 4);
    ASSERT_EQ(expected.timing_info_present_flag, 1) << "a VUI with more than the restriction";
    expected.max_num_ref_frames = 1;
    expected.bitstream_restriction_flag = 1;
    expected.motion_vectors_over_pic_boundaries_flag = 1;
    expected.max_bytes_per_pic_denom = 2;
    expected.max_bits_per_mb_denom = 1;
    expected.log2_max_mv_length_horizontal = 14;
    expected.log2_max_mv_length_vertical = 14;
    expected.max_num_reorder_frames = 0;
    expected.max_dec_frame_buffering = 1;
    EXPECT_EQ(recordOf(rewriteSps(original)), expected);
}

TEST(SpsRewrite, EscapesVuiTimingAgain) {
    const Bytes original = firstSps(realStream("car_vui_timing").accessUnits);
    const Bytes rewritten = rewriteSps(original);
    ASSERT_NE(rewritten, original);
    const Bytes oneTick = {0x00, 0x00, 0x03, 0x00, 0x01};
    EXPECT_NE(std::search(rewritten.begin(), rewritten.end(), oneTick.begin(), oneTick.end()),
              rewritten.end());
    // The simulator's own reading of both.
    const auto before = carsim::readSpsTiming(original);
    const auto after = carsim::readSpsTiming(rewritten);
    ASSERT_TRUE(before && after && after->present);
    EXPECT_EQ(after->numUnitsInTick, before->numUnitsInTick);
    EXPECT_EQ(after->timeScale, before->timeScale);
}

TEST(SpsRewrite, RewriteReparsesIsIdempotentAndHoldsNoStartCode) {
    for (const Bytes& sps : spsSamples()) {
        const std::optional<Bytes> once = tryRewriteSps(sps);
        ASSERT_TRUE(once);
        EXPECT_TRUE(parseSpsNal(*once));
        EXPECT_EQ(tryRewriteSps(*once), once);
        EXPECT_FALSE(holdsStartCodePrefix(*once));
    }
}

TEST(SpsRewrite, RewrittenStreamsDecodeToTheSamePictures) {
    std::vector<NamedStream> streams = realStreams();
    const auto withSps = [](const NamedStream& stream, const char* name, const SpsKnobs& knobs) {
        const Bytes sps = craftSps(knobs);
        return NamedStream{name, replaceSps(stream.accessUnits, [&](const Bytes&) { return sps; })};
    };
    const NamedStream& car = realStream("car");
    const NamedStream& high = realStream("x264_high");
    const NamedStream& yuv444 = realStream("x264_444");
    streams.push_back(
        withSps(car, "car without VUI", knobsLike(recordOf(firstSps(car.accessUnits)))));
    streams.push_back(withSps(high, "scaling lists", withScalingLists(firstSps(high.accessUnits))));
    streams.push_back(
        withSps(yuv444, "12 scaling lists", withScalingLists(firstSps(yuv444.accessUnits))));
    for (const NamedStream& stream : streams) {
        SCOPED_TRACE(stream.name);
        const std::vector<Bytes> pictures = decodePictures(stream.accessUnits);
        ASSERT_EQ(pictures.size(), stream.accessUnits.size());
        EXPECT_EQ(decodePictures(replaceSps(stream.accessUnits, rewriteSps)), pictures);
    }
    EXPECT_NE(decodePictures(streams[streams.size() - 2].accessUnits),
              decodePictures(high.accessUnits))
        << "the scaling lists shape the pictures";
}

TEST(SpsRewrite, LeavesWhatItCannotRewriteUnchanged) {
    const SpsKnobs tooLong = {.pocType = 1, .pocCycleLength = 255, .pocCycleOffset = 1 << 20};
    ASSERT_TRUE(parseSpsNal(craftSps(tooLong))) << "it parses; only its rewrite is too long";
    const Bytes cases[] = {
        craftSps(tooLong),
        craftSps({.vui = true, .timing = {{1, 60}}, .cutBytes = 3}),
        craftSps({.chromaFormatIdc = 4}),
        [] {
            Bytes notSps = craftSps({});
            notSps[0] = 0x00; // a zero header would make 00 00 00 with a payload's zeros
            return notSps;
        }(),
        {0x67},
        {},
    };
    for (const Bytes& nal : cases) {
        EXPECT_FALSE(tryRewriteSps(nal));
        EXPECT_EQ(rewriteSps(nal), nal);
    }
}

} // namespace
