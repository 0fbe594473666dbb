// The video board's "fwversion" text: five parts separated by underscores, for example
//
//     V_2.10.00_37B_X_Y      ->  version "2.10.0", number 37
//     ^ ^       ^
//     | |       +-- build number and one letter: the number is its leading digits
//     | +---------- version text; a final ".00" loses its last character
//     +------------ "FACTORY" marks a board without usable firmware
#pragma once

#include <optional>
#include <string>

namespace sonix {

struct VideoFirmware {
    std::string version; // may be empty
    int number = 0;      // 0 when the build part has no leading digits
};

// None when the text does not have exactly five parts or its first part is "FACTORY".
std::optional<VideoFirmware> parseVideoFirmware(const std::string& text);

} // namespace sonix
