// A module for zebhost's tests: registers a "drivon" source (or, with FAKE_MODULE_TYPE set,
// another type) that fills its canvas solid red (the first source made) or green (any other),
// uploads a small texture on every second render and logs every host call it receives.
// FAKE_MODULE_FAIL_CREATE=N makes the N-th create fail.
#include <cstdlib>
#include <vector>

#include "zeb/zeb.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

zeb_module_t* moduleHandle = nullptr;
int createCalls = 0;

struct FakeSource {
    int number = 0;
    int renders = 0;
    gs_texture_t* texture = nullptr;
};

void* fakeCreate(zeb_data_t*, zeb_source_t*) {
    const int number = createCalls++;
    const char* failing = getenv("FAKE_MODULE_FAIL_CREATE");
    if (failing && atoi(failing) == number) {
        blog(LOG_WARNING, "[fake] create %d refused\n", number);
        return nullptr;
    }
    auto* source = new FakeSource;
    source->number = number;
    char* dir = zeb_module_get_config_path(moduleHandle, nullptr);
    blog(LOG_INFO, "[fake] create %d config %s\n", number, dir ? dir : "(null)");
    bfree(dir);
    zeb_enter_graphics();
    source->texture = gs_texture_create(16, 16, GS_RGBA, 1, nullptr, GS_DYNAMIC);
    zeb_leave_graphics();
    return source;
}

void fakeDestroy(void* data) {
    auto* source = static_cast<FakeSource*>(data);
    blog(LOG_INFO, "[fake] destroy %d after %d renders", source->number, source->renders);
    zeb_enter_graphics();
    gs_texture_destroy(source->texture);
    zeb_leave_graphics();
    delete source;
}

void fakeRender(void* data, gs_effect_t* effect) {
    auto* source = static_cast<FakeSource*>(data);
    if (source->renders++ == 0) {
        blog(LOG_DEBUG, "[fake] first render %d default effect %s", source->number,
             effect == zeb_get_base_effect(ZEB_EFFECT_DEFAULT) ? "yes" : "no");
    }
    gs_effect_t* solid = zeb_get_base_effect(ZEB_EFFECT_SOLID);
    const vec4 colour =
        source->number == 0 ? vec4{1.0f, 0.0f, 0.0f, 1.0f} : vec4{0.0f, 1.0f, 0.0f, 1.0f};
    gs_effect_set_vec4(gs_effect_get_param_by_name(solid, "color"), &colour);
    while (gs_effect_loop(solid, "Solid")) {
        gs_draw_sprite(nullptr, 0, 1280, 720);
    }
    if (source->renders % 2 == 1) {
        const std::vector<uint8_t> pixels(size_t{16} * 16 * 4, 0x80);
        gs_texture_set_image(source->texture, pixels.data(), 16 * 4, false);
    }
}

#define LOG_CALL(what)                                                                             \
    [](void* data) { blog(LOG_INFO, "[fake] " what " %d", static_cast<FakeSource*>(data)->number); }

} // namespace

FAKE_EXPORT void zeb_module_set_pointer(zeb_module_t* module) {
    moduleHandle = module;
}

FAKE_EXPORT bool zeb_module_load(void) {
    const char* type = getenv("FAKE_MODULE_TYPE");
    zeb_source_info info{};
    info.id = type ? type : "drivon";
    info.create = fakeCreate;
    info.destroy = fakeDestroy;
    info.activate = LOG_CALL("activate");
    info.deactivate = LOG_CALL("deactivate");
    info.show = LOG_CALL("show");
    info.hide = LOG_CALL("hide");
    info.video_render = fakeRender;
    zeb_register_source_s(&info, sizeof(info));
    return true;
}
