#include "graphics_context.h"

#include <atomic>

namespace zebhost {

std::recursive_mutex& graphicsMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

GraphicsState& graphicsState() {
    static GraphicsState state;
    return state;
}

zeb_canvas_t*& boundCanvas() {
    thread_local zeb_canvas_t* canvas = nullptr;
    return canvas;
}

void reportMisuse(Misuse kind, const char* message) {
    static std::atomic<uint32_t> reported{0};
    const uint32_t bit = 1u << static_cast<uint32_t>(kind);
    if ((reported.fetch_or(bit) & bit) == 0) {
        blog(LOG_ERROR, "%s", message);
    }
}

} // namespace zebhost

extern "C" {

namespace {
// Unlocking a mutex the thread does not hold is undefined; an unbalanced leave is refused.
thread_local int enterDepth = 0;
} // namespace

ZEB_API void zeb_enter_graphics(void) {
    zebhost::graphicsMutex().lock();
    ++enterDepth;
}

ZEB_API void zeb_leave_graphics(void) {
    if (enterDepth == 0) {
        zebhost::reportMisuse(zebhost::Misuse::LeaveWithoutEnter,
                              "zeb_leave_graphics: the graphics context was not entered");
        return;
    }
    --enterDepth;
    zebhost::graphicsMutex().unlock();
}

ZEB_API void gs_matrix_push(void) {
    std::lock_guard lock(zebhost::graphicsMutex());
    auto& state = zebhost::graphicsState();
    state.matrixStack.push_back(state.matrix);
}

ZEB_API void gs_matrix_pop(void) {
    std::lock_guard lock(zebhost::graphicsMutex());
    auto& state = zebhost::graphicsState();
    if (state.matrixStack.empty()) {
        zebhost::reportMisuse(zebhost::Misuse::MatrixUnderflow,
                              "gs_matrix_pop: no matrix was pushed");
        return;
    }
    state.matrix = state.matrixStack.back();
    state.matrixStack.pop_back();
}

ZEB_API void gs_matrix_identity(void) {
    std::lock_guard lock(zebhost::graphicsMutex());
    zebhost::graphicsState().matrix = {};
}

ZEB_API void gs_matrix_translate3f(float x, float y, float /*z*/) {
    std::lock_guard lock(zebhost::graphicsMutex());
    auto& matrix = zebhost::graphicsState().matrix;
    matrix.x += x;
    matrix.y += y;
}

} // extern "C"
