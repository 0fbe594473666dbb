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

bool FrameDecoder::decodeFrame(const std::vector<uint8_t>& accessUnit,
                               std::vector<uint8_t>& picture) {
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
    return convertFrame(picture);
}

namespace {
// The scaler knows the full-range "J" formats only under their plain names (it renames them
// while it sets up), so a cached context made for a J name never matches it again and would be
// rebuilt for every picture. The plain name with the range given explicitly matches.
AVPixelFormat plainFormat(AVPixelFormat format, bool& fullRange) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return format;
    }
}
} // namespace

bool FrameDecoder::convertFrame(std::vector<uint8_t>& picture) {
    // The texture is 1280 x 720, so every picture is scaled to that while it is converted;
    // the source format is whatever the stream carries (4:2:0, full-range 4:2:0, 4:2:2 ...).
    bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
    const ScalerShape shape{frame->width, frame->height,
                            plainFormat(static_cast<AVPixelFormat>(frame->format), fullRange),
                            fullRange};
    // Re-validated for every picture, rebuilt only when the stream's shape changes.
    if (!scaler || !(shape == scalerShape)) {
        scaler = sws_getCachedContext(scaler, shape.width, shape.height,
                                      static_cast<AVPixelFormat>(shape.format), kOutputWidth,
                                      kOutputHeight, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr,
                                      nullptr, nullptr);
        if (!scaler) {
            return false;
        }
        const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
        sws_setColorspaceDetails(scaler, coefficients, shape.fullRange ? 1 : 0, coefficients, 1,
                                 0, 1 << 16, 1 << 16);
        scalerShape = shape;
        ++builds;
    }
    if (picture.size() != kOutputBytes) {
        picture.resize(kOutputBytes);
    }
    uint8_t* const target[4] = {picture.data(), nullptr, nullptr, nullptr};
    const int targetPitch[4] = {kOutputPitch, 0, 0, 0};
    const int rows =
        sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, target, targetPitch);
    return rows == kOutputHeight;
}
