#include "sonix/protocol/wheel_packet.h"

#include <cmath>
#include <limits>

namespace sonix {

int32_t wheelValue(float value) {
    const double product = std::trunc(static_cast<double>(value) * 32767.0);
    if (std::isnan(product)) {
        return 0;
    }
    constexpr double kLow = std::numeric_limits<int32_t>::min();
    constexpr double kHigh = std::numeric_limits<int32_t>::max();
    if (product <= kLow) {
        return std::numeric_limits<int32_t>::min();
    }
    if (product >= kHigh) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(product);
}

std::vector<uint8_t> wheelPacket(float first, float second) {
    std::vector<uint8_t> packet = {'W', 'C', 'T', 'L'};
    for (const float value : {first, second}) {
        const auto bits = static_cast<uint32_t>(wheelValue(value));
        for (int shift = 0; shift < 32; shift += 8) {
            packet.push_back(static_cast<uint8_t>(bits >> shift));
        }
    }
    return packet;
}

} // namespace sonix
