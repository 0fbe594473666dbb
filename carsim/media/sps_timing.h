#pragma once

#include <optional>

#include "carsim/media/annexb.h"

namespace carsim {

// What an SPS says about VUI timing; none when the SPS does not parse that far.
struct SpsTiming {
    bool present = false;
    uint32_t numUnitsInTick = 0;
    uint32_t timeScale = 0;
};
std::optional<SpsTiming> readSpsTiming(const Bytes& spsNal);

// The same SPS without its VUI timing info (flag cleared, the 65 timing bits removed, every
// other bit kept); an SPS without timing info comes back unchanged. None when it does not parse.
std::optional<Bytes> removeSpsTiming(const Bytes& spsNal);

} // namespace carsim
