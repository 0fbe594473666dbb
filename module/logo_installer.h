// Puts the built-in logo into the module's configuration folder as "dv_logo.png".
#pragma once

#include <cstdint>
#include <span>

#include "zeb/zeb.h"

// A file already there with the image's byte length is taken as installed and left alone (its
// content is not compared); any other is replaced through the host's safe writer. Failures are
// silent: the sources then simply draw no logo.
void installLogo(zeb_module_t* module, std::span<const uint8_t> image) noexcept;
