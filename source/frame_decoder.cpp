#include "source/frame_decoder.h"

#include <climits>

#include "source/ffmpeg.h"
#include "zeb/zeb.h"

namespace {
struct PacketDeleter {
    void operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
};
} // namespace

std::unique_ptr<FrameDecoder> FrameDecoder::create() noexcept {
    std::unique_ptr<FrameDecoder> decoder(new (std::nothrow) FrameDecoder);
    if (!decoder) {
        return nullptr;
    }
    decoder->codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!decoder->codec) {
        blog(LOG_DEBUG, "[drivon] failed to get h264 codec\n");
        return nullptr;
    }
    decoder->context = avcodec_alloc_context3(decoder->codec);
    if (!decoder->context) {
        blog(LOG_DEBUG, "[drivon] avcodec_alloc_context3 failed\n");
        return nullptr;
    }
    if (avcodec_open2(decoder->context, decoder->codec, nullptr) != 0) {
        blog(LOG_DEBUG, "[drivon] avcodec_open2 failed\n");
        return nullptr;
    }
    decoder->frame = av_frame_alloc();
    if (!decoder->frame) {
        blog(LOG_DEBUG, "[drivon] avcodec_alloc_frame failed\n");
        return nullptr;
    }
    return decoder;
}

FrameDecoder::~FrameDecoder() {
    av_frame_free(&frame);
    avcodec_free_context(&context);
    sws_freeContext(scaler);
}

bool FrameDecoder::decodeFrame(const std::vector<uint8_t>& accessUnit) {
    // An empty packet is the decoder's end-of-stream signal: after it the decoder accepts
    // nothing more, so an empty access unit must never reach it.
    if (accessUnit.empty() || accessUnit.size() > size_t{INT_MAX}) {
        return false;
    }
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!packet) {
        return false;
    }
    // No buffer reference: the decoder copies the bytes (with its padding) before reading them.
    packet->data = const_cast<uint8_t*>(accessUnit.data());
    packet->size = static_cast<int>(accessUnit.size());
    avcodec_send_packet(context, packet.get());
    if (avcodec_receive_frame(context, frame) != 0) {
        return false;
    }
    return convertFrame();
}

bool FrameDecoder::convertFrame() {
    // The texture is 1280 x 720, so every picture is scaled to that while it is converted;
    // the source format is whatever the stream carries (4:2:0, full-range 4:2:0, 4:2:2 ...).
    scaler = sws_getCachedContext(
        scaler, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
        kOutputWidth, kOutputHeight, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler) {
        return false;
    }
    if (rgbaPicture.size() != kOutputBytes) {
        rgbaPicture.resize(kOutputBytes);
    }
    uint8_t* const target[4] = {rgbaPicture.data(), nullptr, nullptr, nullptr};
    const int targetPitch[4] = {kOutputPitch, 0, 0, 0};
    const int rows =
        sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, target, targetPitch);
    return rows == kOutputHeight;
}
