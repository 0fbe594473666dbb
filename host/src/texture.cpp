#include "texture.h"

#include <atomic>
#include <cstring>
#include <new>

#include "canvas.h"
#include "effect.h"
#include "graphics_context.h"

namespace {

std::atomic<size_t> liveTextures{0};

uint32_t bytesPerPixel(gs_color_format format) {
    switch (format) {
    case GS_A8:
    case GS_R8:
        return 1;
    case GS_RGBA:
    case GS_BGRX:
    case GS_BGRA:
        return 4;
    default:
        return 0;
    }
}

// One row of the texture's declared format into RGBA.
void convertRow(gs_color_format format, const uint8_t* src, uint8_t* dst, uint32_t width) {
    switch (format) {
    case GS_RGBA:
        memcpy(dst, src, static_cast<size_t>(width) * 4);
        break;
    case GS_BGRA:
    case GS_BGRX:
        for (uint32_t x = 0; x < width; ++x, src += 4, dst += 4) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            dst[3] = format == GS_BGRA ? src[3] : 255;
        }
        break;
    case GS_R8:
        for (uint32_t x = 0; x < width; ++x, dst += 4) {
            dst[0] = dst[1] = dst[2] = src[x];
            dst[3] = 255;
        }
        break;
    case GS_A8:
        for (uint32_t x = 0; x < width; ++x, dst += 4) {
            dst[0] = dst[1] = dst[2] = 255;
            dst[3] = src[x];
        }
        break;
    default:
        break;
    }
}

void copyImage(gs_texture* tex, const uint8_t* data, size_t linesize, bool invert) {
    const size_t rowBytes = static_cast<size_t>(tex->width) * 4;
    for (uint32_t y = 0; y < tex->height; ++y) {
        const uint32_t srcRow = invert ? tex->height - 1 - y : y;
        convertRow(tex->format, data + srcRow * linesize, tex->rgba.data() + y * rowBytes,
                   tex->width);
    }
}

} // namespace

extern "C" {

ZEB_API gs_texture_t* gs_texture_create(uint32_t width, uint32_t height,
                                        enum gs_color_format color_format, uint32_t /*levels*/,
                                        const uint8_t** data, uint32_t flags) {
    const uint32_t bpp = bytesPerPixel(color_format);
    if (width == 0 || height == 0 || width > 16384 || height > 16384 || bpp == 0) {
        blog(LOG_ERROR, "gs_texture_create: unsupported texture %ux%u format %d", width, height,
             static_cast<int>(color_format));
        return nullptr;
    }
    auto* tex = new (std::nothrow) gs_texture;
    if (!tex) {
        return nullptr;
    }
    tex->width = width;
    tex->height = height;
    tex->format = color_format;
    tex->dynamic = (flags & GS_DYNAMIC) != 0;
    tex->rgba.assign(static_cast<size_t>(width) * height * 4, 0);
    if (data && data[0]) {
        copyImage(tex, data[0], static_cast<size_t>(width) * bpp, false);
    }
    ++liveTextures;
    return tex;
}

ZEB_API void gs_texture_destroy(gs_texture_t* tex) {
    if (!tex) {
        return;
    }
    std::lock_guard lock(zebhost::graphicsMutex());
    // An effect must not keep sampling a texture that is gone.
    zebhost::forgetTexture(tex);
    delete tex;
    --liveTextures;
}

ZEB_API uint32_t gs_texture_get_width(const gs_texture_t* tex) {
    return tex ? tex->width : 0;
}

ZEB_API uint32_t gs_texture_get_height(const gs_texture_t* tex) {
    return tex ? tex->height : 0;
}

ZEB_API void gs_texture_set_image(gs_texture_t* tex, const uint8_t* data, uint32_t linesize,
                                  bool invert) {
    if (!tex || !data) {
        return;
    }
    std::lock_guard lock(zebhost::graphicsMutex());
    if (!tex->dynamic) {
        zebhost::reportMisuse(zebhost::Misuse::UploadToStaticTexture,
                              "gs_texture_set_image: the texture is not dynamic");
        return;
    }
    if (linesize < tex->width * bytesPerPixel(tex->format)) {
        zebhost::reportMisuse(zebhost::Misuse::UploadTooShortRows,
                              "gs_texture_set_image: row pitch shorter than a row");
        return;
    }
    copyImage(tex, data, linesize, invert);
    if (zeb_canvas_t* canvas = zebhost::boundCanvas()) {
        ++canvas->stats.uploads;
    }
}

ZEB_API size_t zeb_runner_live_textures(void) {
    return liveTextures.load();
}

} // extern "C"
