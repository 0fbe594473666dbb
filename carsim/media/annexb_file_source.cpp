#include "carsim/media/annexb_file_source.h"

#include <fstream>
#include <iterator>

namespace carsim {

namespace {

// Whether nal, following a slice, begins the next access unit.
bool startsNewAccessUnit(const Bytes& nal) {
    const int type = nalType(nal);
    if (type == 6 || type == 7 || type == 8 || type == 9) { // SEI, SPS, PPS, delimiter
        return true;
    }
    // first_mb_in_slice is the first ue(v) of the slice header: 0 is the single bit 1.
    return (type == 1 || type == 5) && nal.size() > 1 && (nal[1] & 0x80) != 0;
}

} // namespace

std::vector<Bytes> AnnexBFileSource::splitAccessUnits(const Bytes& stream) {
    std::vector<Bytes> units;
    std::vector<Bytes> current;
    bool haveSlice = false;
    for (Bytes& nal : splitAnnexB(stream)) {
        // NAL units before the first slice stay with it (parameter sets ahead of a delimiter).
        if (haveSlice && startsNewAccessUnit(nal)) {
            units.push_back(joinAnnexB(current));
            current.clear();
            haveSlice = false;
        }
        haveSlice = haveSlice || isSliceNal(nal);
        current.push_back(std::move(nal));
    }
    if (haveSlice) {
        units.push_back(joinAnnexB(current));
    }
    return units;
}

bool AnnexBFileSource::open(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    const Bytes stream((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    accessUnits_ = splitAccessUnits(stream);
    next_ = 0;
    return !accessUnits_.empty();
}

std::optional<Bytes> AnnexBFileSource::nextFrame(bool /*keyFrame*/) {
    if (accessUnits_.empty()) {
        return std::nullopt;
    }
    const Bytes& unit = accessUnits_[next_];
    next_ = (next_ + 1) % accessUnits_.size();
    return unit;
}

} // namespace carsim
