// The objects that live as long as the loaded module: created before the first export is
// called, destroyed when the module is unloaded.
#pragma once

#include <atomic>
#include <mutex>

#include "zeb/zeb.h"

class ModuleState {
public:
    ModuleState() = default;
    // Runs at unload (every source instance has been destroyed by then): stops and frees the
    // statistics collector, if one was made.
    ~ModuleState();
    ModuleState(const ModuleState&) = delete;
    ModuleState& operator=(const ModuleState&) = delete;

    void setModule(zeb_module_t* module) noexcept { moduleHandle.store(module); }
    zeb_module_t* module() const noexcept { return moduleHandle.load(); }

    // Installs the logo on the first call after load; later calls (also ones racing the first
    // from another host thread) do nothing. There is no second attempt after a failed write.
    void installLogoOnce() noexcept;

private:
    std::atomic<zeb_module_t*> moduleHandle{nullptr};
    std::mutex logoMutex;
    bool logoInstalled = false; // guarded by logoMutex
};

ModuleState& moduleState() noexcept;
