#include "canvas.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "effect.h"
#include "graphics_context.h"
#include "png_codec.h"

extern "C" {

ZEB_API zeb_canvas_t* zeb_canvas_create(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0 || width > 16384 || height > 16384) {
        return nullptr;
    }
    auto* canvas = new (std::nothrow) zeb_canvas;
    if (!canvas) {
        return nullptr;
    }
    canvas->width = width;
    canvas->height = height;
    canvas->pixels.assign(static_cast<size_t>(width) * height * 4, 0);
    return canvas;
}

ZEB_API void zeb_canvas_destroy(zeb_canvas_t* canvas) {
    delete canvas;
}

ZEB_API void zeb_canvas_begin(zeb_canvas_t* canvas, uint32_t clear_rgba) {
    if (!canvas) {
        return;
    }
    zebhost::graphicsMutex().lock();
    if (zebhost::boundCanvas()) {
        zebhost::reportMisuse(zebhost::Misuse::CanvasMismatch,
                              "zeb_canvas_begin: another canvas is still bound");
    }
    zebhost::boundCanvas() = canvas;
    // Each render starts from a clean slate: no translation left over from the last one.
    auto& state = zebhost::graphicsState();
    state.matrix = {};
    state.matrixStack.clear();
    uint8_t* dst = canvas->pixels.data();
    const size_t total = canvas->pixels.size();
    for (size_t i = 0; i < 4; ++i) {
        dst[i] = static_cast<uint8_t>(clear_rgba >> (8 * i));
    }
    for (size_t filled = 4; filled < total; filled *= 2) {
        memcpy(dst + filled, dst, std::min(filled, total - filled));
    }
    ++canvas->stats.renders;
}

ZEB_API void zeb_canvas_end(zeb_canvas_t* canvas) {
    if (!canvas || zebhost::boundCanvas() != canvas) {
        zebhost::reportMisuse(zebhost::Misuse::CanvasMismatch,
                              "zeb_canvas_end: the canvas is not bound to this thread");
        return;
    }
    if (zebhost::endOpenTechniques()) {
        zebhost::reportMisuse(zebhost::Misuse::PassLeftOpen,
                              "zeb_canvas_end: a technique was left begun");
    }
    zebhost::boundCanvas() = nullptr;
    zebhost::graphicsMutex().unlock();
}

ZEB_API const uint8_t* zeb_canvas_pixels(const zeb_canvas_t* canvas) {
    return canvas ? canvas->pixels.data() : nullptr;
}

ZEB_API uint32_t zeb_canvas_pixel(const zeb_canvas_t* canvas, uint32_t x, uint32_t y) {
    if (!canvas || x >= canvas->width || y >= canvas->height) {
        return 0;
    }
    std::lock_guard lock(zebhost::graphicsMutex());
    const uint8_t* p = canvas->pixels.data() + (static_cast<size_t>(y) * canvas->width + x) * 4;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

ZEB_API uint32_t zeb_canvas_width(const zeb_canvas_t* canvas) {
    return canvas ? canvas->width : 0;
}

ZEB_API uint32_t zeb_canvas_height(const zeb_canvas_t* canvas) {
    return canvas ? canvas->height : 0;
}

ZEB_API struct zeb_canvas_stats zeb_canvas_get_stats(const zeb_canvas_t* canvas) {
    if (!canvas) {
        return {};
    }
    std::lock_guard lock(zebhost::graphicsMutex());
    return canvas->stats;
}

ZEB_API bool zeb_canvas_write_png(const zeb_canvas_t* canvas, const char* path) {
    if (!canvas || !path) {
        return false;
    }
    std::lock_guard lock(zebhost::graphicsMutex());
    return zebhost::writePng(path, canvas->width, canvas->height, canvas->pixels.data());
}

} // extern "C"
