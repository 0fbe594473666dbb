#include <gtest/gtest.h>

#include "source/frame_decoder.h"
#include "tests/source/h264_fixture.h"

namespace {

// Both halves of a decoded two-colour picture, sampled over the whole frame away from the
// seam: a smaller picture must be scaled to fill it, not cropped or padded.
void expectHalves(const std::vector<uint8_t>& rgba, const StreamShape& shape) {
    ASSERT_EQ(rgba.size(), FrameDecoder::kOutputBytes);
    for (int y : {2, 360, 717}) {
        for (int x : {2, 320, 600, 680, 960, 1277}) {
            const uint8_t* p = &rgba[(size_t(y) * FrameDecoder::kOutputWidth + x) * 4];
            EXPECT_TRUE(showsColour(p, x < 640 ? shape.left : shape.right))
                << "at " << x << ", " << y;
        }
    }
}

} // namespace

TEST(FrameDecoder, DecodesEveryAccessUnitToA1280x720RgbaPictureAndSkipsEmptyOrBrokenOnes) {
    // Dark and saturated colours in the full-range and 4:2:2 streams: read with the wrong
    // range or chroma layout they drift far outside the tolerance.
    const StreamShape shapes[] = {
        {.frames = 3},
        {640, 360, StreamFormat::Yuv420, {20, 180, 60}, {230, 230, 230}, 2},
        {1280, 720, StreamFormat::Yuv420FullRange, {25, 25, 25}, {240, 200, 30}, 2},
        {1280, 720, StreamFormat::Yuv422, {25, 25, 25}, {240, 200, 30}, 2},
    };
    std::vector<uint8_t> garbage{0, 0, 0, 1}; // a start code, then no valid NAL unit header
    garbage.resize(4096, 0xFF);
    for (const StreamShape& shape : shapes) {
        SCOPED_TRACE(&shape - shapes); // which shape
        const auto units = encodeH264(shape);
        ASSERT_EQ(units.size(), size_t(shape.frames));
        auto decoder = FrameDecoder::create();
        ASSERT_TRUE(decoder);
        std::vector<uint8_t> picture;
        EXPECT_FALSE(decoder->decodeFrame(garbage, picture));
        for (const auto& unit : units) {
            ASSERT_TRUE(decoder->decodeFrame(unit, picture));
            expectHalves(picture, shape);
            // An empty packet would put the decoder into end-of-stream for good.
            EXPECT_FALSE(decoder->decodeFrame({}, picture));
        }
        // One scaling context for the whole stream, full-range ones included.
        EXPECT_EQ(decoder->scalerBuilds(), 1);
    }
}
