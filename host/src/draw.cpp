// gs_draw_sprite: the one drawing call, a software rasteriser of axis-aligned rectangles.
//
// The sprite covers width x height canvas pixels from the current translation (rounded to whole
// pixels), clipped to the canvas. The default effect blends "image" over the canvas as a GPU
// does with straight alpha (rgb = src * a + dst * (1 - a), alpha = a + dst_alpha * (1 - a));
// the opaque effect copies "image" with alpha 255; the solid effect blends "color" the same way
// as the default effect. Scaling samples the nearest texel.
#include <cmath>
#include <mutex>
#include <vector>

#include "canvas.h"
#include "effect.h"
#include "graphics_context.h"
#include "texture.h"

namespace {

struct Rect {
    int64_t x0, y0, x1, y1; // half-open, canvas pixels
};

inline uint8_t mix(uint32_t src, uint32_t dst, uint32_t alpha) {
    return static_cast<uint8_t>((src * alpha + dst * (255 - alpha) + 127) / 255);
}

inline void blendPixel(uint8_t* dst, const uint8_t* src) {
    const uint32_t a = src[3];
    if (a == 255) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
        dst[3] = 255;
    } else if (a != 0) {
        dst[0] = mix(src[0], dst[0], a);
        dst[1] = mix(src[1], dst[1], a);
        dst[2] = mix(src[2], dst[2], a);
        dst[3] = mix(255, dst[3], a);
    }
}

uint8_t toByte(float component) {
    if (!(component > 0.0f)) {
        return 0;
    }
    if (component >= 1.0f) {
        return 255;
    }
    return static_cast<uint8_t>(std::lround(component * 255.0f));
}

void fillSolid(zeb_canvas& canvas, const Rect& r, const vec4& color) {
    const uint8_t src[4] = {toByte(color.x), toByte(color.y), toByte(color.z), toByte(color.w)};
    for (int64_t y = r.y0; y < r.y1; ++y) {
        uint8_t* row = canvas.pixels.data() + static_cast<size_t>(y) * canvas.width * 4;
        for (int64_t x = r.x0; x < r.x1; ++x) {
            blendPixel(row + x * 4, src);
        }
    }
}

// Copies or blends the texture, stretched over the sprite's full (unclipped) size.
void drawTexture(zeb_canvas& canvas, const Rect& clip, int64_t left, int64_t top, uint32_t width,
                 uint32_t height, const gs_texture& tex, uint32_t flip, bool opaque) {
    std::vector<uint32_t> columns(static_cast<size_t>(clip.x1 - clip.x0));
    for (int64_t x = clip.x0; x < clip.x1; ++x) {
        auto u = static_cast<uint32_t>(static_cast<uint64_t>(x - left) * tex.width / width);
        if (flip & GS_FLIP_U) {
            u = tex.width - 1 - u;
        }
        columns[static_cast<size_t>(x - clip.x0)] = u;
    }
    for (int64_t y = clip.y0; y < clip.y1; ++y) {
        auto v = static_cast<uint32_t>(static_cast<uint64_t>(y - top) * tex.height / height);
        if (flip & GS_FLIP_V) {
            v = tex.height - 1 - v;
        }
        const uint8_t* srcRow = tex.rgba.data() + static_cast<size_t>(v) * tex.width * 4;
        uint8_t* dst = canvas.pixels.data() +
                       (static_cast<size_t>(y) * canvas.width + static_cast<size_t>(clip.x0)) * 4;
        for (uint32_t u : columns) {
            const uint8_t* src = srcRow + static_cast<size_t>(u) * 4;
            if (opaque) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
                dst[3] = 255;
            } else {
                blendPixel(dst, src);
            }
            dst += 4;
        }
    }
}

} // namespace

extern "C" {

ZEB_API void gs_draw_sprite(gs_texture_t* tex, uint32_t flip, uint32_t width, uint32_t height) {
    std::lock_guard lock(zebhost::graphicsMutex());
    zeb_canvas* canvas = zebhost::boundCanvas();
    if (!canvas) {
        zebhost::reportMisuse(zebhost::Misuse::DrawWithoutCanvas,
                              "gs_draw_sprite: no canvas is bound to this thread");
        return;
    }
    const auto& state = zebhost::graphicsState();
    if (!state.activePass) {
        zebhost::reportMisuse(zebhost::Misuse::DrawWithoutPass,
                              "gs_draw_sprite: no technique pass is begun");
        return;
    }
    gs_effect& effect = *state.activePass->owner;
    const bool solid = effect.kind == ZEB_EFFECT_SOLID;
    const gs_texture* sampled = solid ? nullptr : effect.image.texture;
    if (!solid && !sampled) {
        zebhost::reportMisuse(zebhost::Misuse::DrawWithoutImage,
                              "gs_draw_sprite: the effect has no \"image\" texture");
        return;
    }
    // The sprite's own size comes from the texture passed in; the pixels from the effect.
    const gs_texture* sizing = tex ? tex : sampled;
    if (width == 0) {
        width = sizing ? sizing->width : 0;
    }
    if (height == 0) {
        height = sizing ? sizing->height : 0;
    }
    if (solid) {
        ++canvas->stats.solid_fills;
    } else if (sampled->fromImageFile) {
        ++canvas->stats.logo_draws;
    } else {
        ++canvas->stats.texture_draws;
    }
    if (width == 0 || height == 0) {
        return;
    }
    const int64_t left = std::llround(state.matrix.x);
    const int64_t top = std::llround(state.matrix.y);
    Rect clip{std::max<int64_t>(left, 0), std::max<int64_t>(top, 0),
              std::min<int64_t>(left + width, canvas->width),
              std::min<int64_t>(top + height, canvas->height)};
    if (clip.x0 >= clip.x1 || clip.y0 >= clip.y1) {
        return;
    }
    if (solid) {
        fillSolid(*canvas, clip, effect.color.value);
    } else {
        drawTexture(*canvas, clip, left, top, width, height, *sampled, flip,
                    effect.kind == ZEB_EFFECT_OPAQUE);
    }
}

} // extern "C"
