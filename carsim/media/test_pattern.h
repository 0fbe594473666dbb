#pragma once

#include <cstdint>

namespace carsim {

// A live picture: eight colour bars that move left by four pixels a frame, and the frame number
// in large digits in the upper left corner, so a person sees at once that video flows.
class TestPattern {
public:
    TestPattern(int width, int height) : width_(width), height_(height) {}

    // Draws frame frameIndex into 8-bit YUV 4:2:0 planes (BT.601 limited range).
    void draw(int64_t frameIndex, uint8_t* const planes[3], const int strides[3]) const;

    struct Rgb {
        uint8_t r, g, b;
    };
    static constexpr int barCount = 8;
    static const Rgb bars[barCount]; // white, yellow, cyan, green, magenta, red, blue, black

private:
    void drawBars(int64_t frameIndex, uint8_t* const planes[3], const int strides[3]) const;
    void drawCounter(int64_t frameIndex, uint8_t* const planes[3], const int strides[3]) const;
    void fillLuma(uint8_t* const planes[3], const int strides[3], int x, int y, int w, int h,
                  uint8_t value) const;

    int width_;
    int height_;
};

} // namespace carsim
