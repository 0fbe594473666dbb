#include "sonix/protocol/firmware_version.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "net/text_utils.h"

namespace sonix {

namespace {
// Leading decimal digits as strtol reads them, saturated to the int range.
int leadingNumber(const std::string& text) {
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}
} // namespace

std::optional<VideoFirmware> parseVideoFirmware(const std::string& text) {
    const std::vector<std::string> parts = splitString(text, '_');
    if (parts.size() != 5 || parts[0] == "FACTORY") {
        return std::nullopt;
    }
    VideoFirmware firmware;
    firmware.version = parts[1];
    const std::string& version = firmware.version;
    if (version.size() >= 3 && version.compare(version.size() - 3, 3, ".00") == 0) {
        firmware.version.pop_back(); // 2.10.00 -> 2.10.0
    }
    // The build part without its last character; an empty part has none to drop.
    const std::string& build = parts[2];
    firmware.number = build.empty() ? 0 : leadingNumber(build.substr(0, build.size() - 1));
    return firmware;
}

} // namespace sonix
