// bin/drivon.so loaded the way the host loads it: dlopen, set the module handle, load.
#pragma once

#include <cstdint>
#include <string>

#include "zeb/zeb-runner.h"

class LoadedModule {
public:
    // Loads the module with a module handle named "drivon", or with no handle at all.
    enum class Handle { Named, None };
    explicit LoadedModule(Handle handle = Handle::Named);
    // Unloads the module; a module that stays mapped after dlclose fails the test.
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool ok() const { return library && info; }
    const zeb_source_info& source() const { return *info; }

    uint32_t (*ver)() = nullptr;
    bool (*load)() = nullptr;
    const char* (*name)() = nullptr;
    const char* (*description)() = nullptr;
    const char* (*author)() = nullptr;

private:
    void* library = nullptr;
    zeb_module_t* handle = nullptr;
    const zeb_source_info* info = nullptr;
};

// A fresh configuration root made with mkdtemp, removed again at the end.
class TempConfigRoot {
public:
    TempConfigRoot();
    ~TempConfigRoot();
    TempConfigRoot(const TempConfigRoot&) = delete;
    TempConfigRoot& operator=(const TempConfigRoot&) = delete;

    const std::string& path() const { return root; }
    std::string logoPath() const { return root + "/drivon/dv_logo.png"; }

private:
    std::string root;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);
