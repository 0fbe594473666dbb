#include "media/receiver/access_unit_assembler.h"

#include "media/h264/access_unit.h"
#include "media/h264/sps_rewrite.h"
#include "net/adler32.h"

void AccessUnitAssembler::reset() {
    cachedSps.clear();
    cachedPps.clear();
    spsChecksum = 0;
}

void AccessUnitAssembler::handleNalUnit(int32_t frameNumber, int64_t timestamp, NalSpan nal) {
    switch (nalUnitType(nal)) {
    case kNalSps: {
        // Cars repeat the same SPS before every IDR slice; rewrite it only when it changes.
        const uint32_t checksum = adler32(0, nal.data(), static_cast<uint32_t>(nal.size()));
        if (checksum != spsChecksum) {
            cachedSps = rewriteSps(std::vector<uint8_t>(nal.begin(), nal.end()));
            spsChecksum = checksum;
        }
        break;
    }
    case kNalPps:
        cachedPps.assign(nal.begin(), nal.end());
        break;
    case kNalNonIdrSlice:
    case kNalIdrSlice:
        handleSlice(frameNumber, timestamp, nal);
        break;
    default:
        // SEI, delimiters and the rest: the decoder needs none of them.
        break;
    }
}

void AccessUnitAssembler::handleSlice(int32_t frameNumber, int64_t timestamp, NalSpan nal) {
    // A slice before both parameter sets could not be decoded.
    if (cachedSps.empty() || cachedPps.empty()) {
        return;
    }
    NalSpan slice = nal;
    if (trailer == Trailer::Sonix) {
        // A NAL unit no longer than its trailer carries no slice at all.
        const std::optional<TrailedSlice> split = splitSliceTrailer(nal);
        if (!split) {
            return;
        }
        sink.onSliceTrailer(split->trailer);
        slice = split->slice;
    }
    buildAccessUnit(slice, cachedSps, cachedPps, accessUnit);
    sink.deliverFrame(frameNumber, timestamp, accessUnit);
}
