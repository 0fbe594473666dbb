#pragma once

#include <string>

#include "carsim/media/frame_source.h"

namespace carsim {

// Replays an H.264 Annex B file access unit by access unit, from the start again at its end.
// Key-frame requests cannot be honoured: the file's own IDR pictures come when they come.
class AnnexBFileSource : public FrameSource {
public:
    // False if the file cannot be read or holds no slice.
    bool open(const std::string& path);
    std::optional<Bytes> nextFrame(bool keyFrame) override;
    size_t accessUnitCount() const { return accessUnits_.size(); }

    // Groups NAL units into access units, each with 4-byte start codes. A new access unit begins
    // at an access unit delimiter, at a parameter set or SEI after a slice, and at a slice whose
    // first_mb_in_slice is 0 after a slice.
    static std::vector<Bytes> splitAccessUnits(const Bytes& stream);

private:
    std::vector<Bytes> accessUnits_;
    size_t next_ = 0;
};

} // namespace carsim
