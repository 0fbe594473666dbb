// The "drivon" source type as the host registers it.
#pragma once

#include "zeb/zeb.h"

// The registration record; it lives as long as the module.
const zeb_source_info& drivonSourceInfo() noexcept;

// The source type's display name, shared with the module's name export.
const char* drivonName() noexcept;
