#pragma once

#include <vector>

#include "zeb/zeb-runner.h"

// Pixels and statistics are guarded by the graphics lock.
struct zeb_canvas {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels; // RGBA, rows packed
    zeb_canvas_stats stats{};
};
