// Paths the host hands out must go back to the host's allocator.
#pragma once

#include <memory>

#include "zeb/zeb.h"

struct HostPathDeleter {
    void operator()(char* path) const noexcept { bfree(path); }
};
using HostPath = std::unique_ptr<char, HostPathDeleter>;
