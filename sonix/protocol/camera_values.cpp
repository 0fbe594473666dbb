#include "sonix/protocol/camera_values.h"

#include <array>

namespace sonix {

namespace {
constexpr std::array<int, 4> kBitrates = {1048576, 1258291, 1572864, 3145728};
constexpr int kDefaultLevel = 2;
} // namespace

int bitrateLevel(int bitrate) {
    for (int level = 0; level < static_cast<int>(kBitrates.size()); ++level) {
        if (kBitrates[level] == bitrate) {
            return level;
        }
    }
    return -1;
}

int bitrateOfLevel(int level) {
    const bool inTable = level >= 0 && level < static_cast<int>(kBitrates.size());
    return kBitrates[inTable ? level : kDefaultLevel];
}

int powerFrequencySetting(int hertz) {
    return hertz == 60 ? 1 : (hertz == 50 ? 2 : 0);
}

int powerFrequencyHertz(int setting) {
    return setting == 1 ? 60 : 50;
}

} // namespace sonix
