#include "media/h264/nal_units.h"

#include <cstring>

size_t findStartCode(const uint8_t* data, size_t size, size_t from) {
    // A start code at q counts when q < size - 4, so its 01 byte lies at size - 2 at most.
    if (size < 5 || from > size - 5) {
        return size;
    }
    const size_t lastOne = size - 2;
    size_t one = from + 3;
    while (one <= lastOne) {
        // 01 bytes are rare in compressed data; memchr skips to them quickly.
        const void* hit = std::memchr(data + one, 0x01, lastOne + 1 - one);
        if (hit == nullptr) {
            return size;
        }
        one = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
        if (data[one - 1] == 0 && data[one - 2] == 0 && data[one - 3] == 0) {
            return one - 3;
        }
        ++one;
    }
    return size;
}

void cutNalUnits(std::span<const uint8_t> frame, std::vector<NalSpan>& nals) {
    nals.clear();
    forEachNalUnit(frame, [&nals](NalSpan nal) { nals.push_back(nal); });
}
