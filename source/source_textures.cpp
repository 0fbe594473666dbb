#include "source/source_textures.h"

#include "source/frame_decoder.h"
#include "source/host_path.h"

namespace {
// The packed colour's bytes, lowest first, each scaled to 0..1.
vec4 colourVector(uint32_t packed) {
    auto channel = [packed](int shift) {
        return static_cast<float>((packed >> shift) & 0xFFu) / 255.0f;
    };
    return vec4{channel(0), channel(8), channel(16), channel(24)};
}
} // namespace

SourceTextures::SourceTextures(zeb_module_t* module) noexcept {
    // Without a path there is nothing to load, and the host's file calls must not see null.
    if (HostPath path{zeb_module_get_config_path(module, "dv_logo.png")}) {
        gs_image_file_init(&logoImage, path.get());
        logoInitialised = true;
    }
    zeb_enter_graphics();
    if (logoInitialised) {
        gs_image_file_init_texture(&logoImage);
    }
    frameTexture = gs_texture_create(kWidth, kHeight, GS_RGBA, 1, nullptr, GS_DYNAMIC);
    zeb_leave_graphics();
}

SourceTextures::~SourceTextures() {
    zeb_enter_graphics();
    if (frameTexture) {
        gs_texture_destroy(frameTexture);
    }
    if (logoInitialised) {
        gs_image_file_free(&logoImage);
    }
    zeb_leave_graphics();
}

void SourceTextures::uploadFrame(const std::vector<uint8_t>& picture) {
    if (!frameTexture || picture.size() < FrameDecoder::kOutputBytes) {
        return;
    }
    gs_texture_set_image(frameTexture, picture.data(), FrameDecoder::kOutputPitch, false);
}

void SourceTextures::drawFill(uint32_t packedColour) {
    gs_effect_t* effect = zeb_get_base_effect(ZEB_EFFECT_SOLID);
    gs_technique_t* technique = effect ? gs_effect_get_technique(effect, "Solid") : nullptr;
    if (!technique) {
        return;
    }
    if (gs_eparam_t* param = gs_effect_get_param_by_name(effect, "color")) {
        const vec4 colour = colourVector(packedColour);
        gs_effect_set_vec4(param, &colour);
    }
    gs_technique_begin(technique);
    gs_technique_begin_pass(technique, 0);
    gs_draw_sprite(nullptr, 0, kWidth, kHeight);
    gs_technique_end_pass(technique);
    gs_technique_end(technique);
}

void SourceTextures::drawFrame() {
    gs_effect_t* effect = zeb_get_base_effect(ZEB_EFFECT_OPAQUE);
    if (!frameTexture || !effect) {
        return;
    }
    if (gs_eparam_t* param = gs_effect_get_param_by_name(effect, "image")) {
        gs_effect_set_texture(param, frameTexture);
    }
    while (gs_effect_loop(effect, "Draw")) {
        gs_draw_sprite(frameTexture, 0, 0, 0);
    }
}

void SourceTextures::drawLogo() {
    // A logo that did not load, has no texture, or would reach above the frame is left out.
    if (!logoInitialised || !logoImage.loaded || !logoImage.texture || logoImage.cy > kLogoBottom) {
        return;
    }
    gs_effect_t* effect = zeb_get_base_effect(ZEB_EFFECT_DEFAULT);
    if (!effect) {
        return;
    }
    const float top = static_cast<float>(kLogoBottom - logoImage.cy);
    if (gs_eparam_t* param = gs_effect_get_param_by_name(effect, "image")) {
        gs_effect_set_texture(param, logoImage.texture);
    }
    while (gs_effect_loop(effect, "Draw")) {
        gs_matrix_push();
        gs_matrix_translate3f(kLogoLeft, top, 0.0f);
        gs_draw_sprite(logoImage.texture, 0, 0, 0);
        gs_matrix_pop();
    }
}
