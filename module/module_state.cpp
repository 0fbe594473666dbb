#include "module/module_state.h"

#include <exception>

#include "client/stream_stats_collector.h"
#include "module/logo_image.h"
#include "module/logo_installer.h"

ModuleState& moduleState() noexcept {
    // Destroyed when the host unloads the module. Made on first use (the host's first call),
    // which is after every namespace-scope object of the module was initialised, so it is
    // destroyed before them: the collector's own storage is still alive when the destructor
    // stops the collector.
    static ModuleState state;
    return state;
}

ModuleState::~ModuleState() {
    StreamStatsCollector::destroyCurrent();
}

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
