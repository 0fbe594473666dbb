// What a source's canvas is expected to show: the state fill, the simulated car's test pattern
// (eight colour bars moving left, a frame counter in the upper left corner) and the logo in the
// lower left corner. Each check returns an empty text when the picture passes, otherwise what
// it saw, for the failure message.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e/host_harness.h"

namespace e2e {

// Packed 0xAABBGGRR, as the canvas reports pixels.
constexpr uint32_t kScanningFill = 0xFF909090;   // opaque mid grey
constexpr uint32_t kConnectingFill = 0xFFFF0000; // opaque blue

// The logo's pixels (RGBA, rows packed) as the module installed it.
struct Logo {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;

    // Where the module draws it: 8 pixels from the left and 8 above the bottom.
    uint32_t left() const { return 8; }
    uint32_t top() const { return Picture::kHeight - 8 - height; }
    bool covers(uint32_t x, uint32_t y) const {
        return x >= left() && x < left() + width && y >= top() && y < top() + height;
    }
};

Logo loadLogo(const std::string& path);

// The whole frame outside the logo is the colour.
std::string fillMismatch(const Picture& picture, const Logo& logo, uint32_t colour);
// Rows above and below the counter show the eight bars, in their order, each its width.
std::string patternMismatch(const Picture& picture);
// Every opaque pixel of the logo is on the canvas at the logo's place, and every transparent one
// lets the background through unchanged (`background` is that colour; 0 skips that part).
std::string logoMismatch(const Picture& picture, const Logo& logo, uint32_t background = 0);

} // namespace e2e
