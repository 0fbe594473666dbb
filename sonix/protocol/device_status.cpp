#include "sonix/protocol/device_status.h"

#include <cmath>
#include <limits>

#include "net/hex.h"

namespace sonix {

std::optional<std::array<uint8_t, 5>> decodeStatusBytes(const std::string& hex) {
    const std::vector<uint8_t> bytes = hexToBytes(hex);
    // An odd-length text decodes to zero bytes of length/2: eleven digits are not five bytes.
    if (bytes.size() != 5 || hex.size() != 10) {
        return std::nullopt;
    }
    return std::array<uint8_t, 5>{bytes[0], bytes[1], bytes[2], bytes[3], bytes[4]};
}

SdSpace sdSpaceFrom(int totalSpace, int sdSpacePercent) {
    SdSpace space;
    space.total = static_cast<int32_t>(static_cast<uint32_t>(totalSpace) * 1024u);
    const double share = sdSpacePercent / 100.0 * space.total;
    constexpr double kLow = std::numeric_limits<int32_t>::min();
    constexpr double kHigh = std::numeric_limits<int32_t>::max();
    space.free = share <= kLow    ? std::numeric_limits<int32_t>::min()
                 : share >= kHigh ? std::numeric_limits<int32_t>::max()
                                  : static_cast<int32_t>(share);
    return space;
}

} // namespace sonix
