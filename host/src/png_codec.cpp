#include "png_codec.h"

#include <png.h>

namespace zebhost {

namespace {
// Refuses images whose pixels would not fit any sensible texture.
constexpr uint32_t kMaxSide = 16384;
} // namespace

bool readPng(const char* path, RgbaImage& image, std::string& error) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path)) {
        error = png.message;
        png_image_free(&png);
        return false;
    }
    if (png.width == 0 || png.height == 0 || png.width > kMaxSide || png.height > kMaxSide) {
        error = "image size out of range";
        png_image_free(&png);
        return false;
    }
    png.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) {
        error = png.message;
        png_image_free(&png);
        return false;
    }
    image.width = png.width;
    image.height = png.height;
    image.pixels = std::move(pixels);
    return true;
}

bool writePng(const char* path, uint32_t width, uint32_t height, const uint8_t* pixels) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = width;
    png.height = height;
    png.format = PNG_FORMAT_RGBA;
    const bool ok = png_image_write_to_file(&png, path, 0, pixels, 0, nullptr) != 0;
    png_image_free(&png);
    return ok;
}

} // namespace zebhost
