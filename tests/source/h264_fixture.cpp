#include "tests/source/h264_fixture.h"

#include <algorithm>
#include <memory>

#include "source/ffmpeg.h"

namespace {

using ContextPtr =
    std::unique_ptr<AVCodecContext, decltype([](AVCodecContext* c) { avcodec_free_context(&c); })>;
using FramePtr = std::unique_ptr<AVFrame, decltype([](AVFrame* f) { av_frame_free(&f); })>;
using PacketPtr = std::unique_ptr<AVPacket, decltype([](AVPacket* p) { av_packet_free(&p); })>;
using ScalerPtr = std::unique_ptr<SwsContext, decltype([](SwsContext* s) { sws_freeContext(s); })>;

// Picture number index in the stream's own pixel format.
FramePtr makePicture(const StreamShape& shape, AVPixelFormat format, int index) {
    std::vector<uint8_t> rgba(static_cast<size_t>(shape.width) * shape.height * 4);
    uint32_t noise = 0x9E3779B9u + static_cast<uint32_t>(index);
    auto clampByte = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
    uint8_t* p = rgba.data();
    for (int y = 0; y < shape.height; ++y) {
        for (int x = 0; x < shape.width; ++x, p += 4) {
            const Rgb& c = x < shape.width / 2 ? shape.left : shape.right;
            int offset = 0;
            if (shape.moving) {
                noise ^= noise << 13;
                noise ^= noise >> 17;
                noise ^= noise << 5;
                offset = (((x + 3 * index) * (y + 2 * index)) >> 6) % 48 - 24 +
                         static_cast<int>(noise % 9) - 4;
            }
            p[0] = clampByte(c.r + offset);
            p[1] = clampByte(c.g + offset);
            p[2] = clampByte(c.b + offset);
            p[3] = 255;
        }
    }
    FramePtr frame(av_frame_alloc());
    ScalerPtr scaler(sws_getContext(shape.width, shape.height, AV_PIX_FMT_RGBA, shape.width,
                                    shape.height, format, SWS_POINT, nullptr, nullptr, nullptr));
    frame->format = format;
    frame->width = shape.width;
    frame->height = shape.height;
    if (av_frame_get_buffer(frame.get(), 0) != 0) {
        return nullptr;
    }
    const uint8_t* const source[4] = {rgba.data()};
    const int pitch[4] = {shape.width * 4};
    sws_scale(scaler.get(), source, pitch, 0, shape.height, frame->data, frame->linesize);
    return frame;
}

// Moves every packet the encoder has ready into out; false on an encoder error.
bool drain(AVCodecContext* context, AVPacket* packet, std::vector<std::vector<uint8_t>>& out) {
    int result = 0;
    while ((result = avcodec_receive_packet(context, packet)) == 0) {
        out.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet);
    }
    return result == AVERROR(EAGAIN) || result == AVERROR_EOF;
}

} // namespace

std::vector<std::vector<uint8_t>> encodeH264(const StreamShape& shape) {
    av_log_set_level(AV_LOG_ERROR); // the encoder's statistics would drown the test output
    const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
    ContextPtr context(encoder ? avcodec_alloc_context3(encoder) : nullptr);
    PacketPtr packet(av_packet_alloc());
    if (!context || !packet) {
        return {};
    }
    const bool fullRange = shape.format == StreamFormat::Yuv420FullRange;
    const AVPixelFormat format = fullRange                              ? AV_PIX_FMT_YUVJ420P
                                 : shape.format == StreamFormat::Yuv422 ? AV_PIX_FMT_YUV422P
                                                                        : AV_PIX_FMT_YUV420P;
    context->width = shape.width;
    context->height = shape.height;
    context->pix_fmt = format;
    context->color_range = fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    context->time_base = AVRational{1, 30};
    context->max_b_frames = 0;
    context->gop_size = 250;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "crf", "10", 0);
    if (avcodec_open2(context.get(), encoder, nullptr) != 0) {
        return {};
    }
    std::vector<std::vector<uint8_t>> units;
    FramePtr picture;
    for (int i = 0; i < shape.frames; ++i) {
        if (!picture || shape.moving) {
            picture = makePicture(shape, format, i);
        }
        if (!picture) {
            return {};
        }
        picture->pts = i;
        if (avcodec_send_frame(context.get(), picture.get()) != 0 ||
            !drain(context.get(), packet.get(), units)) {
            return {};
        }
    }
    avcodec_send_frame(context.get(), nullptr);
    return drain(context.get(), packet.get(), units) ? units : decltype(units){};
}
