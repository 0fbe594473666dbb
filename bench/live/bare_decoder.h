// The yardstick for the source's decoding: libavcodec and swscale alone, each picture converted
// to 1280 x 720 RGBA in one buffer, with nothing around them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

class BareDecoder {
public:
    // Null when the H.264 decoder cannot be opened.
    static std::unique_ptr<BareDecoder> create();
    ~BareDecoder();
    BareDecoder(const BareDecoder&) = delete;
    BareDecoder& operator=(const BareDecoder&) = delete;

    // Decodes one Annex B access unit; true when a picture came out and was converted.
    bool decode(const std::vector<uint8_t>& accessUnit);

private:
    BareDecoder() = default;

    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    std::vector<uint8_t> rgba;
};
