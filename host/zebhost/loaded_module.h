// A module file opened with dlopen, given its handle and loaded.
#pragma once

#include <memory>
#include <string>

#include "zeb/zeb-runner.h"

class LoadedModule {
public:
    // Opens the file and calls zeb_module_set_pointer and zeb_module_load; null with a reason.
    static std::unique_ptr<LoadedModule> load(const std::string& path, std::string& error);
    // Forgets the module's source types, then unloads it: every source must be gone by now.
    ~LoadedModule();

    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    // "drivon" for ".../drivon.so": the name of its configuration folder.
    const std::string& name() const { return name_; }

private:
    LoadedModule(void* library, std::string name);

    void* library_ = nullptr;
    std::string name_;
    zeb_module_t* handle_ = nullptr;
};
