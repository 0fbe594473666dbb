#include "tests/source/h264_fixture.h"

#include <memory>

#include "source/ffmpeg.h"

namespace {

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScalerDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

AVPixelFormat pixelFormat(StreamFormat format) {
    switch (format) {
    case StreamFormat::Yuv420FullRange:
        return AV_PIX_FMT_YUVJ420P;
    case StreamFormat::Yuv422:
        return AV_PIX_FMT_YUV422P;
    case StreamFormat::Yuv420:
        break;
    }
    return AV_PIX_FMT_YUV420P;
}

uint8_t clampByte(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Picture number index in the stream's own pixel format.
std::unique_ptr<AVFrame, FrameDeleter> makePicture(const StreamShape& shape, AVPixelFormat format,
                                                   int index) {
    std::vector<uint8_t> rgba(static_cast<size_t>(shape.width) * shape.height * 4);
    uint32_t noise = 0x9E3779B9u + static_cast<uint32_t>(index);
    for (int y = 0; y < shape.height; ++y) {
        for (int x = 0; x < shape.width; ++x) {
            const Rgb& c = x < shape.width / 2 ? shape.left : shape.right;
            int offset = 0;
            if (shape.moving) {
                noise ^= noise << 13;
                noise ^= noise >> 17;
                noise ^= noise << 5;
                const int u = x + 3 * index;
                const int v = y + 2 * index;
                offset = ((u * v) >> 6) % 48 - 24 + static_cast<int>(noise % 9) - 4;
            }
            uint8_t* p = &rgba[(static_cast<size_t>(y) * shape.width + x) * 4];
            p[0] = clampByte(c.r + offset);
            p[1] = clampByte(c.g + offset);
            p[2] = clampByte(c.b + offset);
            p[3] = 255;
        }
    }
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    frame->format = format;
    frame->width = shape.width;
    frame->height = shape.height;
    if (av_frame_get_buffer(frame.get(), 0) != 0) {
        return nullptr;
    }
    std::unique_ptr<SwsContext, ScalerDeleter> scaler(
        sws_getContext(shape.width, shape.height, AV_PIX_FMT_RGBA, shape.width, shape.height, format,
                       SWS_POINT, nullptr, nullptr, nullptr));
    const uint8_t* const source[4] = {rgba.data(), nullptr, nullptr, nullptr};
    const int pitch[4] = {shape.width * 4, 0, 0, 0};
    sws_scale(scaler.get(), source, pitch, 0, shape.height, frame->data, frame->linesize);
    return frame;
}

bool drain(AVCodecContext* context, AVPacket* packet, std::vector<std::vector<uint8_t>>& out) {
    for (;;) {
        const int result = avcodec_receive_packet(context, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return true;
        }
        if (result != 0) {
            return false;
        }
        out.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet);
    }
}

} // namespace

std::vector<std::vector<uint8_t>> encodeH264(const StreamShape& shape) {
    av_log_set_level(AV_LOG_ERROR); // the encoder's statistics would drown the test output
    const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
    if (!encoder) {
        return {};
    }
    const AVPixelFormat format = pixelFormat(shape.format);
    std::unique_ptr<AVCodecContext, CodecContextDeleter> context(avcodec_alloc_context3(encoder));
    context->width = shape.width;
    context->height = shape.height;
    context->pix_fmt = format;
    context->color_range =
        shape.format == StreamFormat::Yuv420FullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    context->time_base = AVRational{1, 30};
    context->framerate = AVRational{30, 1};
    context->max_b_frames = 0;
    context->gop_size = 250;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "crf", "10", 0);
    if (avcodec_open2(context.get(), encoder, nullptr) != 0) {
        return {};
    }
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!packet) {
        return {};
    }
    std::vector<std::vector<uint8_t>> units;
    std::unique_ptr<AVFrame, FrameDeleter> picture;
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
    if (!drain(context.get(), packet.get(), units)) {
        return {};
    }
    return units;
}
