#pragma once

#include "carsim/media/frame_source.h"
#include "carsim/media/test_pattern.h"
#include "carsim/media/video_encoder.h"

namespace carsim {

// The live test pattern, encoded.
class PatternSource : public FrameSource {
public:
    explicit PatternSource(const EncoderSettings& settings);
    bool open() { return opened_ = encoder_.open(settings_); }
    const std::string& error() const { return encoder_.error(); }
    std::optional<Bytes> nextFrame(bool keyFrame) override;

private:
    EncoderSettings settings_;
    TestPattern pattern_;
    VideoEncoder encoder_;
    int64_t frameIndex_ = 0;
    bool opened_ = false;
};

} // namespace carsim
