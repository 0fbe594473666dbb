#include "carsim/media/test_pattern.h"

#include <algorithm>
#include <cmath>

namespace carsim {

const TestPattern::Rgb TestPattern::bars[barCount] = {
    {255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
    {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0},
};

namespace {

constexpr int kShiftPerFrame = 4;
constexpr int kDigits = 6;
constexpr int kDigitScale = 8; // each font pixel is an 8 x 8 block
constexpr int kFontWidth = 5;
constexpr int kFontHeight = 7;
constexpr int kMargin = 32;

// 5 x 7 digits, one row per byte, bit 4 the leftmost pixel.
constexpr uint8_t kFont[10][kFontHeight] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

struct Yuv {
    uint8_t y, u, v;
};

uint8_t clampByte(double value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

Yuv toYuv(TestPattern::Rgb c) {
    const double r = c.r / 255.0, g = c.g / 255.0, b = c.b / 255.0;
    return {clampByte(16 + 65.481 * r + 128.553 * g + 24.966 * b),
            clampByte(128 - 37.797 * r - 74.203 * g + 112.0 * b),
            clampByte(128 + 112.0 * r - 93.786 * g - 18.214 * b)};
}

} // namespace

void TestPattern::draw(int64_t frameIndex, uint8_t* const planes[3], const int strides[3]) const {
    drawBars(frameIndex, planes, strides);
    drawCounter(frameIndex, planes, strides);
}

void TestPattern::drawBars(int64_t frameIndex, uint8_t* const planes[3],
                           const int strides[3]) const {
    Yuv colours[barCount];
    for (int i = 0; i < barCount; ++i) {
        colours[i] = toYuv(bars[i]);
    }
    const int64_t shift = frameIndex * kShiftPerFrame % width_;
    auto colourAt = [&](int x) {
        const int64_t pos = (x + shift) % width_;
        return colours[pos * barCount / width_];
    };
    for (int x = 0; x < width_; ++x) {
        const uint8_t luma = colourAt(x).y;
        for (int y = 0; y < height_; ++y) {
            planes[0][static_cast<size_t>(y) * strides[0] + x] = luma;
        }
    }
    for (int cx = 0; cx < (width_ + 1) / 2; ++cx) {
        const Yuv c = colourAt(cx * 2);
        for (int cy = 0; cy < (height_ + 1) / 2; ++cy) {
            planes[1][static_cast<size_t>(cy) * strides[1] + cx] = c.u;
            planes[2][static_cast<size_t>(cy) * strides[2] + cx] = c.v;
        }
    }
}

void TestPattern::fillLuma(uint8_t* const planes[3], const int strides[3], int x, int y, int w,
                           int h, uint8_t value) const {
    const int x0 = std::clamp(x, 0, width_), x1 = std::clamp(x + w, 0, width_);
    const int y0 = std::clamp(y, 0, height_), y1 = std::clamp(y + h, 0, height_);
    for (int row = y0; row < y1; ++row) {
        std::fill(planes[0] + static_cast<size_t>(row) * strides[0] + x0,
                  planes[0] + static_cast<size_t>(row) * strides[0] + x1, value);
    }
    // Grey: neutral chroma over the whole box.
    for (int row = y0 / 2; row < (y1 + 1) / 2; ++row) {
        for (int plane = 1; plane < 3; ++plane) {
            std::fill(planes[plane] + static_cast<size_t>(row) * strides[plane] + x0 / 2,
                      planes[plane] + static_cast<size_t>(row) * strides[plane] + (x1 + 1) / 2,
                      uint8_t{128});
        }
    }
}

void TestPattern::drawCounter(int64_t frameIndex, uint8_t* const planes[3],
                              const int strides[3]) const {
    constexpr int cell = (kFontWidth + 1) * kDigitScale;
    fillLuma(planes, strides, kMargin - kDigitScale, kMargin - kDigitScale,
             kDigits * cell + kDigitScale, (kFontHeight + 2) * kDigitScale, 16);
    int64_t value = frameIndex < 0 ? 0 : frameIndex;
    for (int d = kDigits - 1; d >= 0; --d) {
        const int digit = static_cast<int>(value % 10);
        value /= 10;
        for (int row = 0; row < kFontHeight; ++row) {
            for (int col = 0; col < kFontWidth; ++col) {
                if (kFont[digit][row] & (0x10 >> col)) {
                    fillLuma(planes, strides, kMargin + d * cell + col * kDigitScale,
                             kMargin + row * kDigitScale, kDigitScale, kDigitScale, 235);
                }
            }
        }
    }
}

} // namespace carsim
