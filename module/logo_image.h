// The logo PNG built into the module (assets/dv_logo.png, embedded at build time).
#pragma once

#include <cstdint>
#include <span>

std::span<const uint8_t> embeddedLogo() noexcept;
