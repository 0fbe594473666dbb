#include "tests/source/source_test_host.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <png.h>
#include <stdexcept>

TempConfig::TempConfig() {
    char pattern[] = "/tmp/drivon-source-test-XXXXXX";
    if (!mkdtemp(pattern)) {
        throw std::runtime_error("mkdtemp failed");
    }
    root = pattern;
    zeb_runner_set_config_root(root.c_str());
    handle = zeb_runner_module_create("drivon");
}

TempConfig::~TempConfig() {
    zeb_runner_module_destroy(handle);
    zeb_runner_set_config_root(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

std::string TempConfig::moduleFolder() const {
    const std::string folder = root + "/drivon";
    std::filesystem::create_directories(folder);
    return folder;
}

void TempConfig::writeLogo(std::span<const uint8_t> bytes) const {
    std::ofstream out(logoPath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

LogCapture::LogCapture() {
    zeb_runner_set_log_handler(&LogCapture::handle, this);
}

LogCapture::~LogCapture() {
    zeb_runner_set_log_handler(nullptr, nullptr);
}

void LogCapture::handle(int level, const char* message, void* param) {
    auto* self = static_cast<LogCapture*>(param);
    std::lock_guard lock(self->mutex);
    self->captured.push_back({level, message});
}

std::vector<LogLine> LogCapture::lines() const {
    std::lock_guard lock(mutex);
    return captured;
}

size_t LogCapture::count(const std::string& text) const {
    std::lock_guard lock(mutex);
    size_t n = 0;
    for (const LogLine& line : captured) {
        n += line.text == text ? 1 : 0;
    }
    return n;
}

RgbaImage decodePng(std::span<const uint8_t> png) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) {
        return {};
    }
    image.format = PNG_FORMAT_RGBA;
    RgbaImage out{image.width, image.height, std::vector<uint8_t>(PNG_IMAGE_SIZE(image))};
    if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
        return {};
    }
    return out;
}

std::vector<uint8_t> encodePng(const RgbaImage& source) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = source.width;
    image.height = source.height;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(image, size, 0, source.pixels.data(), 0, nullptr)) {
        return {};
    }
    std::vector<uint8_t> out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, source.pixels.data(), 0,
                                   nullptr)) {
        return {};
    }
    out.resize(size);
    return out;
}
