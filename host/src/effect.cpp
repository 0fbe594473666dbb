#include "effect.h"

#include <array>
#include <cstring>
#include <mutex>

#include "graphics_context.h"

namespace {

std::array<gs_effect, 4>& baseEffects() {
    static std::array<gs_effect, 4> effects = [] {
        std::array<gs_effect, 4> made;
        for (size_t i = 0; i < made.size(); ++i) {
            gs_effect& e = made[i];
            e.kind = static_cast<zeb_base_effect>(i);
            e.image = {&e, "image", nullptr, {}};
            e.color = {&e, "color", nullptr, {1.0f, 1.0f, 1.0f, 1.0f}};
            e.draw = {&e, "Draw", false};
            e.solid = {&e, "Solid", false};
        }
        return made;
    }();
    return effects;
}

} // namespace

namespace zebhost {

void forgetTexture(const gs_texture_t* tex) {
    std::lock_guard lock(graphicsMutex());
    for (gs_effect& e : baseEffects()) {
        if (e.image.texture == tex) {
            e.image.texture = nullptr;
        }
    }
}

bool endOpenTechniques() {
    std::lock_guard lock(graphicsMutex());
    bool open = graphicsState().activePass != nullptr;
    graphicsState().activePass = nullptr;
    for (gs_effect& e : baseEffects()) {
        open = open || e.looping || e.draw.begun || e.solid.begun;
        e.looping = nullptr;
        e.draw.begun = false;
        e.solid.begun = false;
    }
    return open;
}

} // namespace zebhost

extern "C" {

ZEB_API gs_effect_t* zeb_get_base_effect(enum zeb_base_effect effect) {
    auto& effects = baseEffects();
    const auto index = static_cast<size_t>(effect);
    return index < effects.size() ? &effects[index] : nullptr;
}

ZEB_API gs_eparam_t* gs_effect_get_param_by_name(const gs_effect_t* effect, const char* name) {
    if (!effect || !name) {
        return nullptr;
    }
    auto* e = const_cast<gs_effect_t*>(effect);
    if (strcmp(name, "image") == 0) {
        return &e->image;
    }
    if (strcmp(name, "color") == 0) {
        return &e->color;
    }
    return nullptr;
}

ZEB_API void gs_effect_set_texture(gs_eparam_t* param, gs_texture_t* val) {
    if (!param) {
        return;
    }
    std::lock_guard lock(zebhost::graphicsMutex());
    param->texture = val;
}

ZEB_API void gs_effect_set_vec4(gs_eparam_t* param, const struct vec4* val) {
    if (!param || !val) {
        return;
    }
    std::lock_guard lock(zebhost::graphicsMutex());
    param->value = *val;
}

ZEB_API gs_technique_t* gs_effect_get_technique(const gs_effect_t* effect, const char* name) {
    if (!effect || !name) {
        return nullptr;
    }
    auto* e = const_cast<gs_effect_t*>(effect);
    if (strcmp(name, "Draw") == 0) {
        return &e->draw;
    }
    if (strcmp(name, "Solid") == 0) {
        return &e->solid;
    }
    return nullptr;
}

ZEB_API size_t gs_technique_begin(gs_technique_t* technique) {
    if (!technique) {
        return 0;
    }
    std::lock_guard lock(zebhost::graphicsMutex());
    technique->begun = true;
    return 1;
}

ZEB_API bool gs_technique_begin_pass(gs_technique_t* technique, size_t pass) {
    if (!technique || pass != 0) {
        return false;
    }
    std::lock_guard lock(zebhost::graphicsMutex());
    if (!technique->begun) {
        return false;
    }
    zebhost::graphicsState().activePass = technique;
    return true;
}

ZEB_API void gs_technique_end_pass(gs_technique_t* technique) {
    std::lock_guard lock(zebhost::graphicsMutex());
    auto& state = zebhost::graphicsState();
    if (technique && state.activePass == technique) {
        state.activePass = nullptr;
    }
}

ZEB_API void gs_technique_end(gs_technique_t* technique) {
    if (!technique) {
        return;
    }
    std::lock_guard lock(zebhost::graphicsMutex());
    auto& state = zebhost::graphicsState();
    if (state.activePass == technique) {
        state.activePass = nullptr;
    }
    technique->begun = false;
}

ZEB_API bool gs_effect_loop(gs_effect_t* effect, const char* name) {
    if (!effect) {
        return false;
    }
    std::lock_guard lock(zebhost::graphicsMutex());
    if (effect->looping) {
        gs_technique_end_pass(effect->looping);
        gs_technique_end(effect->looping);
        effect->looping = nullptr;
        return false;
    }
    gs_technique_t* technique = gs_effect_get_technique(effect, name);
    if (!technique) {
        return false;
    }
    gs_technique_begin(technique);
    if (!gs_technique_begin_pass(technique, 0)) {
        gs_technique_end(technique);
        return false;
    }
    effect->looping = technique;
    return true;
}

} // extern "C"
