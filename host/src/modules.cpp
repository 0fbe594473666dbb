// Module handles and their configuration folders.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pwd.h>
#include <string>
#include <unistd.h>

#include "zeb/zeb-runner.h"

struct zeb_module {
    std::string name;
};

namespace {

std::mutex rootMutex;
std::string configRoot; // guarded by rootMutex; empty: the default

std::string homeDirectory() {
    // Nothing in the host changes the environment.
    const char* home = getenv("HOME"); // NOLINT(concurrency-mt-unsafe)
    if (home && *home) {
        return home;
    }
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found) {
        return found->pw_dir;
    }
    return "/tmp";
}

std::string defaultRoot() {
    const char* xdg = getenv("XDG_CONFIG_HOME"); // NOLINT(concurrency-mt-unsafe)
    if (xdg && *xdg) {
        return std::string(xdg) + "/zebhost";
    }
    return homeDirectory() + "/.config/zebhost";
}

std::string currentRoot() {
    std::lock_guard lock(rootMutex);
    std::string root = configRoot.empty() ? defaultRoot() : configRoot;
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    return root;
}

char* copyString(const std::string& text) {
    auto* copy = static_cast<char*>(bmalloc(text.size() + 1));
    memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

} // namespace

extern "C" {

ZEB_API zeb_module_t* zeb_runner_module_create(const char* name) {
    return new zeb_module{name ? name : ""};
}

ZEB_API void zeb_runner_module_destroy(zeb_module_t* module) {
    delete module;
}

ZEB_API void zeb_runner_set_config_root(const char* dir) {
    std::lock_guard lock(rootMutex);
    configRoot = dir ? dir : "";
}

ZEB_API char* zeb_module_get_config_path(zeb_module_t* module, const char* file) {
    if (!module) {
        return nullptr;
    }
    std::string path = currentRoot() + "/" + module->name + "/";
    if (file) {
        path += file;
    }
    return copyString(path);
}

} // extern "C"
