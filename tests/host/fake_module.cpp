// A module for zebhost's tests: registers a "drivon" source (or, with FAKE_MODULE_TYPE set,
// another type) that fills its canvas solid red, uploads a small texture on every second
// render, draws the "logo.png" of its configuration folder when there is one, and logs every
// host call it receives.
#include <cstdlib>
#include <cstring>
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
    gs_image_file_t logo{};
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
    char* logoPath = zeb_module_get_config_path(moduleHandle, "logo.png");
    gs_image_file_init(&source->logo, logoPath);
    bfree(logoPath);
    zeb_enter_graphics();
    gs_image_file_init_texture(&source->logo);
    source->texture = gs_texture_create(16, 16, GS_RGBA, 1, nullptr, GS_DYNAMIC);
    zeb_leave_graphics();
    return source;
}

void fakeDestroy(void* data) {
    auto* source = static_cast<FakeSource*>(data);
    blog(LOG_INFO, "[fake] destroy %d after %d renders", source->number, source->renders);
    zeb_enter_graphics();
    gs_texture_destroy(source->texture);
    gs_image_file_free(&source->logo);
    zeb_leave_graphics();
    delete source;
}

void logCall(void* data, const char* what) {
    blog(LOG_INFO, "[fake] %s %d", what, static_cast<FakeSource*>(data)->number);
}

void fakeRender(void* data, gs_effect_t* effect) {
    auto* source = static_cast<FakeSource*>(data);
    if (source->renders++ == 0) {
        blog(LOG_DEBUG, "[fake] first render %d default effect %s", source->number,
             effect == zeb_get_base_effect(ZEB_EFFECT_DEFAULT) ? "yes" : "no");
    }
    gs_effect_t* solid = zeb_get_base_effect(ZEB_EFFECT_SOLID);
    const vec4 red{1.0f, 0.0f, 0.0f, 1.0f};
    gs_effect_set_vec4(gs_effect_get_param_by_name(solid, "color"), &red);
    gs_technique_t* tech = gs_effect_get_technique(solid, "Solid");
    gs_technique_begin(tech);
    gs_technique_begin_pass(tech, 0);
    gs_draw_sprite(nullptr, 0, 1280, 720);
    gs_technique_end_pass(tech);
    gs_technique_end(tech);

    if (source->renders % 2 == 1) {
        std::vector<uint8_t> green(size_t{16} * 16 * 4);
        for (size_t i = 0; i < green.size(); i += 4) {
            green[i + 1] = 255;
            green[i + 3] = 255;
        }
        gs_texture_set_image(source->texture, green.data(), 16 * 4, false);
    }
    if (source->logo.texture) {
        gs_effect_t* blend = zeb_get_base_effect(ZEB_EFFECT_DEFAULT);
        gs_effect_set_texture(gs_effect_get_param_by_name(blend, "image"), source->logo.texture);
        while (gs_effect_loop(blend, "Draw")) {
            gs_draw_sprite(source->logo.texture, 0, 0, 0);
        }
    }
}

uint32_t fakeWidth(void*) {
    return 1280;
}
uint32_t fakeHeight(void*) {
    return 720;
}
const char* fakeName(void*) {
    return "Fake";
}

} // namespace

FAKE_EXPORT void zeb_module_set_pointer(zeb_module_t* module) {
    moduleHandle = module;
}

FAKE_EXPORT bool zeb_module_load(void) {
    const char* type = getenv("FAKE_MODULE_TYPE");
    zeb_source_info info{};
    info.id = type ? type : "drivon";
    info.type = ZEB_SOURCE_TYPE_INPUT;
    info.output_flags = ZEB_SOURCE_VIDEO | ZEB_SOURCE_CUSTOM_DRAW;
    info.get_name = fakeName;
    info.create = fakeCreate;
    info.destroy = fakeDestroy;
    info.get_width = fakeWidth;
    info.get_height = fakeHeight;
    info.activate = [](void* data) { logCall(data, "activate"); };
    info.deactivate = [](void* data) { logCall(data, "deactivate"); };
    info.show = [](void* data) { logCall(data, "show"); };
    info.hide = [](void* data) { logCall(data, "hide"); };
    info.video_render = fakeRender;
    zeb_register_source_s(&info, sizeof(info));
    return true;
}
