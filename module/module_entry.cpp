// The module's six exports: the only symbols the host sees (exports.map hides the rest).
#include <cstdint>

#include "module/module_state.h"
#include "module/source_callbacks.h"
#include "zeb/zeb.h"

#define DRIVON_EXPORT extern "C" __attribute__((visibility("default")))

DRIVON_EXPORT void zeb_module_set_pointer(zeb_module_t* module) noexcept {
    moduleState().setModule(module);
}

DRIVON_EXPORT uint32_t zeb_module_ver(void) noexcept {
    return ZEB_API_VERSION;
}

DRIVON_EXPORT bool zeb_module_load(void) noexcept {
    zeb_register_source_s(&drivonSourceInfo(), sizeof(zeb_source_info));
    return true;
}

DRIVON_EXPORT const char* zeb_module_name(void) noexcept {
    return drivonName();
}

DRIVON_EXPORT const char* zeb_module_description(void) noexcept {
    return "Drivon Live Streaming";
}

DRIVON_EXPORT const char* zeb_module_author(void) noexcept {
    return "Mendrel";
}
