// H.264 decoder of one source instance: access units in, 1280 x 720 RGBA pictures out.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct SwsContext;

class FrameDecoder {
public:
    static constexpr int kOutputWidth = 1280;
    static constexpr int kOutputHeight = 720;
    static constexpr int kOutputPitch = kOutputWidth * 4;
    static constexpr size_t kOutputBytes = size_t{kOutputPitch} * kOutputHeight;

    // Opens the decoder; null (with a debug log line naming the step) when that fails.
    static std::unique_ptr<FrameDecoder> create() noexcept;
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // Feeds one Annex B access unit; true when a new picture was converted into `picture`:
    // kOutputBytes, rows packed. A buffer of that size (a picture the renderer handed back) is
    // written over as it is; any other is resized first. The decoder may hold a picture back
    // until a later access unit arrives.
    bool decodeFrame(const std::vector<uint8_t>& accessUnit, std::vector<uint8_t>& picture);

    // How often the scaling context was built: once per stream shape, not once per picture.
    int scalerBuilds() const { return builds; }

private:
    FrameDecoder() = default;
    bool convertFrame(std::vector<uint8_t>& picture);

    const AVCodec* codec = nullptr;
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    // One per decoder: instances decode on their own client threads at the same time, and a
    // scaling context must not be used by two threads at once.
    SwsContext* scaler = nullptr;
    // What the scaler was built for: size, format (full-range formats under their plain names,
    // the range given on its own) and range.
    struct ScalerShape {
        int width = 0;
        int height = 0;
        int format = -1;
        bool fullRange = false;
        bool operator==(const ScalerShape&) const = default;
    };
    ScalerShape scalerShape;
    int builds = 0;
};
