// The one graphics context of the host: a recursive lock that the render thread, the enter /
// leave calls and every graphics call take, and the drawing state it guards.
#pragma once

#include <mutex>
#include <vector>

#include "zeb/zeb-runner.h"

namespace zebhost {

std::recursive_mutex& graphicsMutex();

struct Translation {
    float x = 0.0f;
    float y = 0.0f;
};

// Guarded by graphicsMutex.
struct GraphicsState {
    Translation matrix;
    std::vector<Translation> matrixStack;
    gs_technique_t* activePass = nullptr; // the technique whose pass is begun
};
GraphicsState& graphicsState();

// The canvas the calling thread renders into (set between zeb_canvas_begin and _end).
zeb_canvas_t*& boundCanvas();

// Misuse that would repeat every frame is logged once per process and kind.
enum class Misuse {
    DrawWithoutCanvas,
    DrawWithoutPass,
    DrawWithoutImage,
    MatrixUnderflow,
    PassLeftOpen,
    CanvasMismatch,
    UploadToStaticTexture,
    UploadTooShortRows,
    LeaveWithoutEnter,
};
void reportMisuse(Misuse kind, const char* message);

} // namespace zebhost
