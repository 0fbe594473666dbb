// bin/drivon.so loaded the way the host loads it (dlopen, set the module handle, load), with a
// configuration root of its own.
#pragma once

#include <dlfcn.h>

#include <gtest/gtest.h>

#include "tests/source/temp_config.h"
#include "zeb/zeb-runner.h"

class LoadedModule {
public:
    // With a module handle named "drivon", or with none (the host then gives no paths).
    explicit LoadedModule(bool withHandle = true) {
        library = dlopen(DRIVON_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            ADD_FAILURE() << dlerror(); // NOLINT(concurrency-mt-unsafe): no other thread loads
            return;
        }
        auto* setPointer = symbol<void(zeb_module_t*)>("zeb_module_set_pointer");
        auto* load = symbol<bool()>("zeb_module_load");
        if (setPointer && load) {
            handle = withHandle ? zeb_runner_module_create("drivon") : nullptr;
            setPointer(handle);
            EXPECT_TRUE(load());
            info = zeb_runner_find_source("drivon");
        }
    }
    // A module that stays mapped after dlclose fails the test: it would never run its
    // module-wide clean-up.
    ~LoadedModule() {
        zeb_runner_clear_sources();
        if (library) {
            dlclose(library);
            if (void* still = dlopen(DRIVON_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD)) {
                ADD_FAILURE() << "the module stayed loaded after dlclose";
                dlclose(still);
            }
        }
        zeb_runner_module_destroy(handle);
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool ok() const { return library && info; }
    const zeb_source_info& source() const { return *info; }

    template <typename Function>
    Function* symbol(const char* name) const {
        auto* function = reinterpret_cast<Function*>(dlsym(library, name));
        EXPECT_NE(function, nullptr) << name;
        return function;
    }

    TempConfig config; // set before the module loads, removed after it is gone

private:
    void* library = nullptr;
    zeb_module_t* handle = nullptr;
    const zeb_source_info* info = nullptr;
};
