#pragma once

#include <optional>
#include <string>

#include "carsim/media/annexb.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace carsim {

struct EncoderSettings {
    int width = 1280, height = 720, fps = 30;
    int bitrateKbps = 2500;
    int gop = 30;
    bool vuiTiming = false;
};

// libx264 through libavcodec, set up the way the receiver needs it: one reference frame, no
// B-frames, no look-ahead (one access unit out per picture in), one slice per picture, SPS and
// PPS repeated before every IDR picture.
class VideoEncoder {
public:
    VideoEncoder() = default;
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // False (with the reason in error()) if libx264 is missing or refuses the settings.
    bool open(const EncoderSettings& settings);
    const std::string& error() const { return error_; }

    // The picture to draw into before encode(): YUV 4:2:0 planes.
    uint8_t* const* planes() const;
    const int* strides() const;

    // Encodes the picture; an IDR picture when keyFrame. The access unit has 4-byte start codes
    // only; none if the encoder failed or produced nothing.
    std::optional<Bytes> encode(bool keyFrame);

private:
    Bytes normalise(const uint8_t* data, size_t size) const;

    EncoderSettings settings_;
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int64_t pts_ = 0;
    std::string error_;
};

} // namespace carsim
