// Any bytes as a received frame. Oracles: the cut agrees with the cutting rule applied byte by
// byte; every NAL unit lies inside the frame; the Sonix trailer split and parse and the access
// unit built from each slice stay inside their data.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "media/h264/access_unit.h"
#include "media/h264/nal_units.h"
#include "media/h264/slice_trailer.h"

namespace {

// Start codes are 00 00 00 01 beginning before size - 4; a NAL unit runs to the next one.
std::vector<NalSpan> cutByTheRule(std::span<const uint8_t> d) {
    std::vector<NalSpan> nals;
    const size_t n = d.size();
    const auto startsAt = [&](size_t q) {
        return q + 4 < n && d[q] == 0 && d[q + 1] == 0 && d[q + 2] == 0 && d[q + 3] == 1;
    };
    for (size_t p = 0; p + 4 < n;) {
        if (!startsAt(p)) {
            ++p;
            continue;
        }
        size_t q = p + 4;
        while (q < n && !startsAt(q)) {
            ++q;
        }
        if (q > p + 4) {
            nals.push_back(d.subspan(p + 4, q - p - 4));
        }
        p = q;
    }
    return nals;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> frame(data, size);
    std::vector<NalSpan> nals;
    cutNalUnits(frame, nals);
    const std::vector<NalSpan> expected = cutByTheRule(frame);
    if (nals.size() != expected.size()) {
        std::abort();
    }
    const std::vector<uint8_t> sps = {0x67, 0x42}, pps = {0x68, 0xCE};
    std::vector<uint8_t> accessUnit;
    MdvTelemetry telemetry;
    for (size_t i = 0; i < nals.size(); ++i) {
        if (nals[i].data() != expected[i].data() || nals[i].size() != expected[i].size()) {
            std::abort();
        }
        const int type = nalUnitType(nals[i]);
        if (type != kNalNonIdrSlice && type != kNalIdrSlice) {
            continue;
        }
        std::span<const uint8_t> slice = nals[i];
        if (const std::optional<TrailedSlice> trailed = splitSliceTrailer(nals[i])) {
            if (const std::optional<SliceTelemetry> values = readSliceTrailer(trailed->trailer)) {
                storeSliceTelemetry(*values, telemetry);
            }
            slice = trailed->slice;
        }
        buildAccessUnit(slice, sps, pps, accessUnit);
        const size_t parameterSets = type == kNalIdrSlice ? 8 + sps.size() + pps.size() : 0;
        if (accessUnit.size() != 4 + parameterSets + slice.size()) {
            std::abort();
        }
    }
    return 0;
}
