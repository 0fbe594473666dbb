// The built-in effects. Every effect has the parameters "image" and "color" and the techniques
// "Draw" and "Solid", each with one pass; what a draw does depends on the effect alone.
#pragma once

#include <string>

#include "zeb/zeb.h"

struct gs_effect_param {
    gs_effect_t* owner = nullptr;
    std::string name;
    gs_texture_t* texture = nullptr;
    vec4 value{};
};

struct gs_effect_technique {
    gs_effect_t* owner = nullptr;
    std::string name;
    bool begun = false;
};

// Parameter values and technique state are guarded by the graphics lock.
struct gs_effect {
    zeb_base_effect kind = ZEB_EFFECT_DEFAULT;
    gs_effect_param image;
    gs_effect_param color;
    gs_effect_technique draw;
    gs_effect_technique solid;
    gs_effect_technique* looping = nullptr; // technique run by gs_effect_loop
};

namespace zebhost {

// Clears every effect parameter that refers to tex (called when it is destroyed).
void forgetTexture(const gs_texture_t* tex);
// Ends every technique still begun (a render that broke out of its pass); true if one was.
bool endOpenTechniques();

} // namespace zebhost
