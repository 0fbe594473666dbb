// H.264 test streams made with libx264 through libavcodec: a picture whose left and right
// halves have one colour each, encoded for low latency (no B-frames), one Annex B access unit
// per picture.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

struct Rgb {
    uint8_t r, g, b;
};

enum class StreamFormat {
    Yuv420,          // the cars' format
    Yuv420FullRange, // "J" 4:2:0: full-range luma and chroma
    Yuv422,
};

struct StreamShape {
    int width = 1280;
    int height = 720;
    StreamFormat format = StreamFormat::Yuv420;
    Rgb left{200, 40, 40};
    Rgb right{40, 60, 210};
    int frames = 1;
    // Camera-like content instead of flat colour: a texture that moves a little every picture,
    // with sensor noise, so that each picture carries real residual data.
    bool moving = false;
};

// One access unit per picture, the first with its parameter sets; empty when encoding failed.
std::vector<std::vector<uint8_t>> encodeH264(const StreamShape& shape);

// Whether the opaque RGBA pixel p shows want, allowing for YUV rounding and the encoder's loss
// on flat colour.
inline bool showsColour(const uint8_t* p, Rgb want) {
    auto near = [](uint8_t v, uint8_t w) { return std::abs(int{v} - int{w}) <= 10; };
    return near(p[0], want.r) && near(p[1], want.g) && near(p[2], want.b) && p[3] == 255;
}
