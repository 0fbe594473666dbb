#include "bench/fault_matrix/reference_stream.h"

#include <fstream>

#include "carsim/media/pattern_source.h"
#include "media/h264/nal_units.h"
#include "media/h264/sps_rewrite.h"

namespace faults {

bool makeReferenceStream(const std::string& path, int frames, int gop, ReferenceStream& reference) {
    carsim::EncoderSettings settings; // the car's defaults: 1280 x 720, 30 fps
    settings.gop = gop;
    carsim::PatternSource source(settings);
    if (!source.open()) {
        return false;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    std::vector<uint8_t> sps;
    for (int i = 0; i < frames; ++i) {
        const std::optional<carsim::Bytes> unit = source.nextFrame(false);
        if (!unit) {
            return false;
        }
        file.write(reinterpret_cast<const char*>(unit->data()),
                   static_cast<std::streamsize>(unit->size()));
        forEachNalUnit(*unit, [&](NalSpan nal) {
            switch (nalUnitType(nal)) {
            case kNalSps:
                sps.assign(nal.begin(), nal.end());
                break;
            case kNalPps:
                reference.pps.assign(nal.begin(), nal.end());
                break;
            case kNalIdrSlice:
            case kNalNonIdrSlice:
                reference.slices.emplace(reinterpret_cast<const char*>(nal.data()), nal.size());
                break;
            default:
                break;
            }
        });
    }
    reference.rewrittenSps = rewriteSps(sps);
    return static_cast<bool>(file) && !sps.empty() && !reference.pps.empty();
}

} // namespace faults
