// Registered source types. Each record is copied; its identifier is copied too, so lookups stay
// valid whatever the module does with its own strings.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "zeb/zeb-runner.h"

#if UINTPTR_MAX == UINT64_MAX
static_assert(sizeof(zeb_source_info) == 400, "the registration record is part of the ABI");
#endif

namespace {

struct Registration {
    std::string id;
    zeb_source_info info;
};

std::mutex registryMutex;
std::vector<std::unique_ptr<Registration>> registrations; // guarded by registryMutex

} // namespace

extern "C" {

ZEB_API void zeb_register_source_s(const struct zeb_source_info* info, size_t size) {
    if (!info) {
        blog(LOG_ERROR, "zeb_register_source_s: no record");
        return;
    }
    if (size != sizeof(zeb_source_info)) {
        blog(LOG_ERROR,
             "zeb_register_source_s: record of %zu bytes refused, this host expects %zu "
             "(built against another API version?)",
             size, sizeof(zeb_source_info));
        return;
    }
    if (!info->id || !*info->id) {
        blog(LOG_ERROR, "zeb_register_source_s: record without an identifier refused");
        return;
    }
    std::lock_guard lock(registryMutex);
    for (const auto& reg : registrations) {
        if (reg->id == info->id) {
            blog(LOG_ERROR, "zeb_register_source_s: source type '%s' is already registered",
                 info->id);
            return;
        }
    }
    auto reg = std::make_unique<Registration>();
    reg->id = info->id;
    reg->info = *info;
    reg->info.id = reg->id.c_str();
    registrations.push_back(std::move(reg));
}

ZEB_API const struct zeb_source_info* zeb_runner_find_source(const char* id) {
    if (!id) {
        return nullptr;
    }
    std::lock_guard lock(registryMutex);
    for (const auto& reg : registrations) {
        if (reg->id == id) {
            return &reg->info;
        }
    }
    return nullptr;
}

ZEB_API size_t zeb_runner_source_count(void) {
    std::lock_guard lock(registryMutex);
    return registrations.size();
}

ZEB_API void zeb_runner_clear_sources(void) {
    std::lock_guard lock(registryMutex);
    registrations.clear();
}

} // extern "C"
