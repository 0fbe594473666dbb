#include <cstdlib>

#include <gtest/gtest.h>

#include "source/frame_decoder.h"
#include "tests/source/h264_fixture.h"

namespace {

constexpr int kTolerance = 10; // YUV rounding plus the encoder's loss on flat colour

// Pixel (x, y) of a 1280 x 720 RGBA picture, checked against an expected colour.
::testing::AssertionResult hasColour(const std::vector<uint8_t>& rgba, int x, int y, Rgb want) {
    if (rgba.size() != FrameDecoder::kOutputBytes) {
        return ::testing::AssertionFailure() << "picture holds " << rgba.size() << " bytes";
    }
    const uint8_t* p = &rgba[(static_cast<size_t>(y) * FrameDecoder::kOutputWidth + x) * 4];
    if (std::abs(p[0] - want.r) > kTolerance || std::abs(p[1] - want.g) > kTolerance ||
        std::abs(p[2] - want.b) > kTolerance || p[3] != 255) {
        return ::testing::AssertionFailure()
               << "(" << x << ", " << y << ") is " << int{p[0]} << "," << int{p[1]} << ","
               << int{p[2]} << "," << int{p[3]} << ", expected " << int{want.r} << ","
               << int{want.g} << "," << int{want.b};
    }
    return ::testing::AssertionSuccess();
}

// Both halves of a decoded two-colour picture, sampled away from the seam.
void expectHalves(const std::vector<uint8_t>& rgba, const StreamShape& shape) {
    for (int y : {2, 360, 717}) {
        EXPECT_TRUE(hasColour(rgba, 2, y, shape.left));
        EXPECT_TRUE(hasColour(rgba, 320, y, shape.left));
        EXPECT_TRUE(hasColour(rgba, 600, y, shape.left));
        EXPECT_TRUE(hasColour(rgba, 680, y, shape.right));
        EXPECT_TRUE(hasColour(rgba, 960, y, shape.right));
        EXPECT_TRUE(hasColour(rgba, 1277, y, shape.right));
    }
}

std::unique_ptr<FrameDecoder> openDecoder() {
    std::unique_ptr<FrameDecoder> decoder = FrameDecoder::create();
    EXPECT_NE(decoder, nullptr);
    return decoder;
}

} // namespace

TEST(FrameDecoder, DecodesEveryAccessUnitOfALowLatencyStreamToRgba) {
    StreamShape shape;
    shape.frames = 3;
    const auto units = encodeH264(shape);
    ASSERT_EQ(units.size(), 3u);
    auto decoder = openDecoder();
    ASSERT_TRUE(decoder);
    EXPECT_TRUE(decoder->rgba().empty());
    for (const auto& unit : units) {
        ASSERT_TRUE(decoder->decodeFrame(unit));
        expectHalves(decoder->rgba(), shape);
    }
}

TEST(FrameDecoder, SmallerPicturesAreScaledTo1280x720) {
    StreamShape shape;
    shape.width = 640;
    shape.height = 360;
    shape.left = {20, 180, 60};
    shape.right = {230, 230, 230};
    const auto units = encodeH264(shape);
    ASSERT_EQ(units.size(), 1u);
    auto decoder = openDecoder();
    ASSERT_TRUE(decoder);
    ASSERT_TRUE(decoder->decodeFrame(units[0]));
    // Scaled, not cropped or padded: each half of the small picture fills half the output.
    expectHalves(decoder->rgba(), shape);
}

TEST(FrameDecoder, FullRangeAndFourTwoTwoStreamsKeepTheirColours) {
    // Dark and saturated colours: read with the wrong range or chroma layout they drift far
    // outside the tolerance.
    for (StreamFormat format : {StreamFormat::Yuv420FullRange, StreamFormat::Yuv422}) {
        SCOPED_TRACE(static_cast<int>(format));
        StreamShape shape;
        shape.format = format;
        shape.left = {25, 25, 25};
        shape.right = {240, 200, 30};
        shape.frames = 2;
        const auto units = encodeH264(shape);
        ASSERT_EQ(units.size(), 2u);
        auto decoder = openDecoder();
        ASSERT_TRUE(decoder);
        for (const auto& unit : units) {
            ASSERT_TRUE(decoder->decodeFrame(unit));
            expectHalves(decoder->rgba(), shape);
        }
    }
}

TEST(FrameDecoder, EmptyOrBrokenAccessUnitsYieldNothingAndLeaveTheDecoderWorking) {
    StreamShape shape;
    shape.frames = 2;
    const auto units = encodeH264(shape);
    ASSERT_EQ(units.size(), 2u);
    auto decoder = openDecoder();
    ASSERT_TRUE(decoder);

    // An empty packet would put the decoder into end-of-stream for good.
    EXPECT_FALSE(decoder->decodeFrame({}));
    std::vector<uint8_t> garbage(4096);
    for (size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    garbage[0] = garbage[1] = garbage[2] = 0;
    garbage[3] = 1;
    EXPECT_FALSE(decoder->decodeFrame(garbage));
    EXPECT_FALSE(decoder->decodeFrame({}));

    for (const auto& unit : units) {
        ASSERT_TRUE(decoder->decodeFrame(unit));
        expectHalves(decoder->rgba(), shape);
    }
}
