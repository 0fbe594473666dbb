#include "loaded_module.h"

#include <dlfcn.h>
#include <sys/stat.h>

namespace {

std::string moduleName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

} // namespace

LoadedModule::LoadedModule(void* library, std::string name)
    : library_(library), name_(std::move(name)), handle_(zeb_runner_module_create(name_.c_str())) {}

LoadedModule::~LoadedModule() {
    // The registered records point into the module's code.
    zeb_runner_clear_sources();
    using UnloadFn = void (*)();
    if (auto unload = reinterpret_cast<UnloadFn>(dlsym(library_, "zeb_module_unload"))) {
        unload();
    }
    dlclose(library_);
    zeb_runner_module_destroy(handle_);
}

std::unique_ptr<LoadedModule> LoadedModule::load(const std::string& path, std::string& error) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        error = "no such file";
        return nullptr;
    }
    // dlopen searches the library path for names without a slash; the user meant the file.
    const std::string openPath = path.find('/') == std::string::npos ? "./" + path : path;
    void* library = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        // Modules are loaded on the main thread only.
        const char* reason = dlerror(); // NOLINT(concurrency-mt-unsafe)
        error = reason ? reason : "dlopen failed";
        return nullptr;
    }
    using SetPointerFn = void (*)(zeb_module_t*);
    using LoadFn = bool (*)();
    auto setPointer = reinterpret_cast<SetPointerFn>(dlsym(library, "zeb_module_set_pointer"));
    auto loadFn = reinterpret_cast<LoadFn>(dlsym(library, "zeb_module_load"));
    if (!setPointer || !loadFn) {
        error = "the module does not export zeb_module_set_pointer and zeb_module_load";
        dlclose(library);
        return nullptr;
    }
    std::unique_ptr<LoadedModule> module(new LoadedModule(library, moduleName(path)));
    setPointer(module->handle_);
    if (!loadFn()) {
        error = "zeb_module_load returned false";
        return nullptr;
    }
    return module;
}
