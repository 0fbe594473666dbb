#include "tests/module/loaded_module.h"

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace {
template <typename Function>
void bind(void* library, const char* symbol, Function*& out) {
    out = reinterpret_cast<Function*>(dlsym(library, symbol));
    EXPECT_NE(out, nullptr) << symbol;
}
} // namespace

LoadedModule::LoadedModule(Handle which) {
    library = dlopen(DRIVON_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        ADD_FAILURE() << dlerror(); // NOLINT(concurrency-mt-unsafe): no other thread loads
        return;
    }
    void (*setPointer)(zeb_module_t*) = nullptr;
    bind(library, "zeb_module_set_pointer", setPointer);
    bind(library, "zeb_module_ver", ver);
    bind(library, "zeb_module_load", load);
    bind(library, "zeb_module_name", name);
    bind(library, "zeb_module_description", description);
    bind(library, "zeb_module_author", author);
    if (!setPointer || !load) {
        return;
    }
    handle = which == Handle::Named ? zeb_runner_module_create("drivon") : nullptr;
    setPointer(handle);
    EXPECT_TRUE(load());
    info = zeb_runner_find_source("drivon");
    EXPECT_NE(info, nullptr);
}

LoadedModule::~LoadedModule() {
    zeb_runner_clear_sources();
    if (library) {
        dlclose(library);
        // Unloading runs the module-wide clean-up; a module that cannot unload never would.
        void* still = dlopen(DRIVON_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(still, nullptr) << "the module stayed loaded after dlclose";
        if (still) {
            dlclose(still);
        }
    }
    zeb_runner_module_destroy(handle);
}

TempConfigRoot::TempConfigRoot() {
    char pattern[] = "/tmp/drivon-module-test-XXXXXX";
    if (mkdtemp(pattern)) {
        root = pattern;
    } else {
        ADD_FAILURE() << "mkdtemp failed";
    }
    zeb_runner_set_config_root(root.c_str());
}

TempConfigRoot::~TempConfigRoot() {
    zeb_runner_set_config_root(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

bool fileExists(const std::string& path) {
    return std::filesystem::exists(path);
}
