#include "tests/e2e/picture_checks.h"

#include <cstdlib>
#include <sstream>

namespace e2e {

namespace {

struct Rgb {
    int r, g, b;
};

// The simulator's bars, left to right, each an eighth of the width; they move left by four
// pixels a frame, so a row shows them rotated.
constexpr Rgb kBars[] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                         {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
constexpr const char* kBarNames[] = {"white",   "yellow", "cyan", "green",
                                     "magenta", "red",    "blue", "black"};
constexpr int kBarCount = 8;
constexpr int kBarWidth = static_cast<int>(Picture::kWidth) / kBarCount;
// Compression and the colour conversion move a bar's colour by a few steps; anything within
// this of a bar is that bar.
constexpr int kTolerance = 48;
// Edges between bars blur over a few pixels; shorter runs are such edges.
constexpr int kShortestRun = 24;
// Rows clear of the frame counter (upper left) and of the logo (lower left).
constexpr uint32_t kRows[] = {200, 600};

int barOf(uint32_t pixel) {
    const int r = static_cast<int>(pixel & 0xFF);
    const int g = static_cast<int>(pixel >> 8 & 0xFF);
    const int b = static_cast<int>(pixel >> 16 & 0xFF);
    for (int i = 0; i < kBarCount; ++i) {
        if (std::abs(r - kBars[i].r) <= kTolerance && std::abs(g - kBars[i].g) <= kTolerance &&
            std::abs(b - kBars[i].b) <= kTolerance) {
            return i;
        }
    }
    return -1;
}

std::string hex(uint32_t value) {
    std::ostringstream out;
    out << "0x" << std::hex << std::uppercase << value;
    return out.str();
}

struct Run {
    int bar;
    int begin;
    int end; // one past
};

std::string describe(const std::vector<Run>& runs) {
    std::ostringstream out;
    for (const Run& run : runs) {
        out << " " << (run.bar < 0 ? "?" : kBarNames[run.bar]) << "@" << run.begin << "-"
            << run.end - 1;
    }
    return out.str();
}

std::string rowMismatch(const Picture& picture, uint32_t y) {
    std::vector<Run> runs;
    int unmatched = 0;
    for (int x = 0; x < static_cast<int>(Picture::kWidth); ++x) {
        const int bar = barOf(picture.pixel(static_cast<uint32_t>(x), y));
        unmatched += bar < 0 ? 1 : 0;
        if (!runs.empty() && runs.back().bar == bar) {
            runs.back().end = x + 1;
        } else {
            runs.push_back({bar, x, x + 1});
        }
    }
    std::vector<Run> bars;
    for (const Run& run : runs) {
        if (run.bar < 0 || run.end - run.begin < kShortestRun) {
            continue;
        }
        if (!bars.empty() && bars.back().bar == run.bar) {
            bars.back().end = run.end; // an edge-like blip inside one bar
        } else {
            bars.push_back(run);
        }
    }
    std::ostringstream problem;
    if (unmatched > static_cast<int>(Picture::kWidth) / 20) {
        problem << unmatched << " pixels match no bar";
    } else if (bars.size() < kBarCount) {
        problem << "only " << bars.size() << " bars";
    } else {
        for (size_t i = 0; i < bars.size() && problem.tellp() == 0; ++i) {
            const int width = bars[i].end - bars[i].begin;
            if (i > 0 && bars[i].bar != (bars[i - 1].bar + 1) % kBarCount) {
                problem << "bar " << i << " out of order";
            } else if (i > 0 && i + 1 < bars.size() &&
                       (width < kBarWidth - 16 || width > kBarWidth + 4)) {
                problem << "bar " << i << " is " << width << " pixels wide";
            }
        }
    }
    if (problem.tellp() == 0) {
        return {};
    }
    return "row " + std::to_string(y) + ": " + problem.str() + ";" + describe(runs);
}

} // namespace

Logo loadLogo(const std::string& path) {
    Logo logo;
    gs_image_file_t image{};
    gs_image_file_init(&image, path.c_str());
    if (image.loaded && image.texture_data) {
        logo.width = image.cx;
        logo.height = image.cy;
        logo.rgba.assign(image.texture_data,
                         image.texture_data + static_cast<size_t>(image.cx) * image.cy * 4);
    }
    zeb_enter_graphics();
    gs_image_file_free(&image);
    zeb_leave_graphics();
    return logo;
}

std::string fillMismatch(const Picture& picture, const Logo& logo, uint32_t colour) {
    if (picture.pixels.empty()) {
        return "no picture";
    }
    int wrong = 0;
    std::string first;
    for (uint32_t y = 0; y < Picture::kHeight; y += 8) {
        for (uint32_t x = 0; x < Picture::kWidth; x += 8) {
            if (logo.covers(x, y) || picture.pixel(x, y) == colour) {
                continue;
            }
            if (wrong++ == 0) {
                first = "(" + std::to_string(x) + ", " + std::to_string(y) + ") is " +
                        hex(picture.pixel(x, y));
            }
        }
    }
    if (wrong == 0) {
        return {};
    }
    return std::to_string(wrong) + " sampled pixels are not " + hex(colour) + ", first " + first;
}

std::string patternMismatch(const Picture& picture) {
    if (picture.pixels.empty()) {
        return "no picture";
    }
    std::string problems;
    for (uint32_t y : kRows) {
        const std::string row = rowMismatch(picture, y);
        if (!row.empty()) {
            problems += row + "\n";
        }
    }
    return problems;
}

std::string logoMismatch(const Picture& picture, const Logo& logo, uint32_t background) {
    if (picture.pixels.empty() || logo.rgba.empty()) {
        return picture.pixels.empty() ? "no picture" : "no logo";
    }
    int opaque = 0;
    int wrong = 0;
    std::string first;
    for (uint32_t y = 0; y < logo.height; ++y) {
        for (uint32_t x = 0; x < logo.width; ++x) {
            const uint8_t* p = &logo.rgba[(static_cast<size_t>(y) * logo.width + x) * 4];
            uint32_t expected = 0;
            if (p[3] == 255) {
                ++opaque;
                expected = 0xFF000000u | static_cast<uint32_t>(p[2]) << 16 |
                           static_cast<uint32_t>(p[1]) << 8 | p[0];
            } else if (p[3] == 0 && background != 0) {
                expected = background;
            } else {
                continue;
            }
            const uint32_t seen = picture.pixel(logo.left() + x, logo.top() + y);
            if (seen != expected && wrong++ == 0) {
                first = "logo pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is " +
                        hex(seen) + ", not " + hex(expected);
            }
        }
    }
    if (opaque == 0) {
        return "the logo has no opaque pixel";
    }
    return wrong == 0 ? std::string()
                      : std::to_string(wrong) + " logo pixels wrong, first " + first;
}

} // namespace e2e
