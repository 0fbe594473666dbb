#include "module/module_state.h"

#include <exception>

#include "module/logo_image.h"
#include "module/logo_installer.h"

namespace {
// A namespace-scope object of the shared library: its destructor runs when the host unloads
// the module.
ModuleState state;
} // namespace

ModuleState& moduleState() noexcept {
    return state;
}

ModuleState::~ModuleState() = default;

void ModuleState::installLogoOnce() noexcept {
    try {
        std::lock_guard lock(logoMutex);
        if (logoInstalled) {
            return;
        }
        installLogo(module(), embeddedLogo());
        logoInstalled = true;
    } catch (const std::exception&) {
        // Only the mutex can throw here; the sources then run without a freshly installed logo.
    }
}
