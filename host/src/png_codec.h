// PNG files to and from 8-bit RGBA pixels (rows packed).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zebhost {

struct RgbaImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;
};

// Any PNG (palette, grey, 16-bit...) comes out as 8-bit RGBA; false when missing or bad.
bool readPng(const char* path, RgbaImage& image, std::string& error);
bool writePng(const char* path, uint32_t width, uint32_t height, const uint8_t* pixels);

} // namespace zebhost
