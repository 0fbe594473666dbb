#include "module/source_callbacks.h"

#include "module/module_state.h"
#include "source/drivon_client.h"

namespace {

DrivonClient* instance(void* data) noexcept {
    return static_cast<DrivonClient*>(data);
}

const char* getName(void* /*typeData*/) noexcept {
    return drivonName();
}

void* create(zeb_data_t* settings, zeb_source_t* source) noexcept {
    ModuleState& state = moduleState();
    state.installLogoOnce();
    return DrivonClient::create(settings, source, state.module()).release();
}

void destroy(void* data) noexcept {
    delete instance(data);
}

uint32_t getWidth(void* /*data*/) noexcept {
    return SourceTextures::kWidth;
}
uint32_t getHeight(void* /*data*/) noexcept {
    return SourceTextures::kHeight;
}

void activate(void* data) noexcept {
    if (data) {
        instance(data)->setActive(true);
    }
}

void deactivate(void* data) noexcept {
    if (data) {
        instance(data)->setActive(false);
    }
}

void show(void* data) noexcept {
    if (data) {
        instance(data)->setHidden(false);
    }
}

void hide(void* data) noexcept {
    if (data) {
        instance(data)->setHidden(true);
    }
}

void videoTick(void* /*data*/, float /*seconds*/) noexcept {}

// The host's effect is not used: the source picks its own effect for each thing it draws.
void videoRender(void* data, gs_effect_t* /*effect*/) noexcept {
    if (data) {
        instance(data)->render();
    }
}

const zeb_source_info kSourceInfo = {
    .id = "drivon",
    .type = ZEB_SOURCE_TYPE_INPUT,
    .output_flags = ZEB_SOURCE_VIDEO | ZEB_SOURCE_CUSTOM_DRAW,
    .get_name = getName,
    .create = create,
    .destroy = destroy,
    .get_width = getWidth,
    .get_height = getHeight,
    .activate = activate,
    .deactivate = deactivate,
    .show = show,
    .hide = hide,
    .video_tick = videoTick,
    .video_render = videoRender,
};

} // namespace

const zeb_source_info& drivonSourceInfo() noexcept {
    return kSourceInfo;
}

const char* drivonName() noexcept {
    return "Drivon";
}
