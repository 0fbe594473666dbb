#pragma once

#include <vector>

#include "zeb/zeb.h"

// Every texture is kept as 8-bit RGBA, rows packed, whatever its declared format.
struct gs_texture {
    uint32_t width = 0;
    uint32_t height = 0;
    gs_color_format format = GS_RGBA;
    bool dynamic = false;
    bool fromImageFile = false; // made by gs_image_file_init_texture
    std::vector<uint8_t> rgba;
};
