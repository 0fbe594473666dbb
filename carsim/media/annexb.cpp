#include "carsim/media/annexb.h"

namespace carsim {

int nalType(const Bytes& nal) {
    return nal.empty() ? -1 : nal[0] & 0x1F;
}

bool isSliceNal(const Bytes& nal) {
    const int type = nalType(nal);
    return type == 1 || type == 5;
}

namespace {

// Position of the next 00 00 01 at or after from, or size when there is none.
size_t findStartCode(const uint8_t* data, size_t size, size_t from) {
    for (size_t i = from; i + 3 <= size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            return i;
        }
    }
    return size;
}

} // namespace

std::vector<Bytes> splitAnnexB(const uint8_t* data, size_t size) {
    std::vector<Bytes> nals;
    size_t start = findStartCode(data, size, 0);
    while (start < size) {
        const size_t begin = start + 3;
        const size_t next = findStartCode(data, size, begin);
        size_t end = next;
        while (end > begin && data[end - 1] == 0) {
            --end;
        }
        if (end > begin) {
            nals.emplace_back(data + begin, data + end);
        }
        start = next;
    }
    return nals;
}

Bytes joinAnnexB(const std::vector<Bytes>& nals) {
    Bytes out;
    for (const Bytes& nal : nals) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

Bytes unescapeRbsp(const uint8_t* data, size_t size) {
    Bytes out;
    out.reserve(size);
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        out.push_back(data[i]);
    }
    return out;
}

Bytes escapeRbsp(const Bytes& rbsp) {
    Bytes out;
    out.reserve(rbsp.size() + rbsp.size() / 64 + 4);
    int zeros = 0;
    for (uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        out.push_back(byte);
    }
    return out;
}

} // namespace carsim
