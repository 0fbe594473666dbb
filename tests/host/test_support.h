// Helpers shared by the host tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "zeb/zeb-runner.h"

// A fresh directory under /tmp, removed with its content at the end of the test.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/zebhost-test-XXXXXX";
        if (!mkdtemp(pattern)) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Collects what blog hands the library's handler while it lives (filled under the log lock;
// read it after the logging calls).
struct LogCapture {
    struct Line {
        int level;
        std::string message;
    };
    LogCapture() {
        zeb_runner_set_log_handler(
            [](int level, const char* message, void* param) {
                static_cast<LogCapture*>(param)->lines.push_back({level, message});
            },
            this);
    }
    ~LogCapture() { zeb_runner_set_log_handler(nullptr, nullptr); }

    std::vector<Line> lines;
};

using Texture = std::unique_ptr<gs_texture_t, void (*)(gs_texture_t*)>;

// A canvas pixel value: red in the low byte.
constexpr uint32_t rgba(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    return r | g << 8 | b << 16 | static_cast<uint32_t>(a) << 24;
}

inline Texture makeTexture(uint32_t width, uint32_t height, const std::vector<uint32_t>& pixels,
                           uint32_t flags = 0) {
    // Little-endian: each value's bytes are R, G, B, A in memory, as the texture wants them.
    const uint8_t* levels[1] = {reinterpret_cast<const uint8_t*>(pixels.data())};
    return {gs_texture_create(width, height, GS_RGBA, 1, levels, flags), gs_texture_destroy};
}

// One sprite through a base effect's "Draw" technique, the way a source draws its frame and logo.
inline void drawSprite(zeb_base_effect kind, gs_texture_t* texture, uint32_t width = 0,
                       uint32_t height = 0, uint32_t flip = 0) {
    gs_effect_t* effect = zeb_get_base_effect(kind);
    gs_effect_set_texture(gs_effect_get_param_by_name(effect, "image"), texture);
    while (gs_effect_loop(effect, "Draw")) {
        gs_draw_sprite(texture, flip, width, height);
    }
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}
