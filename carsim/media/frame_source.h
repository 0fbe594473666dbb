#pragma once

#include <optional>

#include "carsim/media/annexb.h"

namespace carsim {

// Produces the car's encoded frames, one H.264 access unit per call, Annex B with 4-byte start
// codes and SPS and PPS in front of every IDR picture.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // keyFrame asks for an IDR picture where the source can make one. None on failure.
    virtual std::optional<Bytes> nextFrame(bool keyFrame) = 0;
};

} // namespace carsim
