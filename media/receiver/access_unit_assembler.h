// Turns the NAL units of complete frames into access units: caches the parameter sets (the SPS
// rewritten for low-delay decoding), strips the Sonix telemetry trailer from slices, and hands
// every slice on with the parameter sets in front of an IDR slice.
#pragma once

#include <cstdint>
#include <vector>

#include "media/h264/nal_units.h"
#include "media/receiver/media_sink.h"

class AccessUnitAssembler {
public:
    enum class Trailer { None, Sonix };

    AccessUnitAssembler(Trailer trailer, MediaSink& sink) : trailer(trailer), sink(sink) {}

    // Forgets the parameter sets: decoding starts again with the next SPS and PPS.
    void reset();
    // One NAL unit (without start code, not empty) of the frame numbered frameNumber.
    void handleNalUnit(int32_t frameNumber, int64_t timestamp, NalSpan nal);

private:
    void handleSlice(int32_t frameNumber, int64_t timestamp, NalSpan nal);

    const Trailer trailer;
    MediaSink& sink;
    std::vector<uint8_t> cachedSps; // rewritten; header byte first, no start code
    std::vector<uint8_t> cachedPps; // as received
    uint32_t spsChecksum = 0;       // of the SPS as received, before the rewrite
    std::vector<uint8_t> accessUnit; // reused: its capacity outlives each delivery
};
