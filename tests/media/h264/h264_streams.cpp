#include "tests/media/h264/h264_streams.h"

#include <algorithm>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "carsim/media/annexb.h"
#include "carsim/media/video_encoder.h"

namespace {

using ContextPtr =
    std::unique_ptr<AVCodecContext, decltype([](AVCodecContext* c) { avcodec_free_context(&c); })>;
using FramePtr = std::unique_ptr<AVFrame, decltype([](AVFrame* f) { av_frame_free(&f); })>;
using PacketPtr = std::unique_ptr<AVPacket, decltype([](AVPacket* p) { av_packet_free(&p); })>;

// A picture with texture that moves a little every frame, so inter frames carry real data.
void drawPicture(uint8_t* const* planes, const int* strides, int width, int height, int chromaShift,
                 int index) {
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            planes[0][y * strides[0] + x] =
                static_cast<uint8_t>(((x + 2 * index) * (y + index)) / 7 + 16);
        }
    }
    for (int y = 0; y < (height >> chromaShift); ++y) {
        for (int x = 0; x < (width >> chromaShift); ++x) {
            planes[1][y * strides[1] + x] = static_cast<uint8_t>(128 + ((x + index) % 32));
            planes[2][y * strides[2] + x] = static_cast<uint8_t>(128 - (y % 24));
        }
    }
}

// Every start code made 4 bytes long, as the cars send them.
void collect(AVCodecContext* context, AVPacket* packet, std::vector<Bytes>& out) {
    while (avcodec_receive_packet(context, packet) == 0) {
        out.push_back(carsim::joinAnnexB(carsim::splitAnnexB(packet->data, packet->size)));
        av_packet_unref(packet);
    }
}

} // namespace

std::vector<Bytes> encodeX264(const X264Stream& s) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    ContextPtr context(codec ? avcodec_alloc_context3(codec) : nullptr);
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!context || !frame || !packet) {
        return {};
    }
    context->width = s.width;
    context->height = s.height;
    context->pix_fmt = s.yuv444 ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, 30};
    context->framerate = AVRational{30, 1};
    context->max_b_frames = 0;
    context->thread_count = 1;
    av_opt_set(context->priv_data, "profile", s.profile.c_str(), 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "x264-params", ("log=-1:" + s.params).c_str(), 0);
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        return {};
    }
    frame->format = context->pix_fmt;
    frame->width = s.width;
    frame->height = s.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return {};
    }
    std::vector<Bytes> out;
    for (int i = 0; i < s.frames; ++i) {
        if (av_frame_make_writable(frame.get()) < 0) {
            return {};
        }
        drawPicture(frame->data, frame->linesize, s.width, s.height, s.yuv444 ? 0 : 1, i);
        frame->pts = i;
        if (avcodec_send_frame(context.get(), frame.get()) < 0) {
            return {};
        }
        collect(context.get(), packet.get(), out);
    }
    avcodec_send_frame(context.get(), nullptr);
    collect(context.get(), packet.get(), out);
    return out;
}

std::vector<Bytes> encodeLikeCar(bool vuiTiming, int frames) {
    carsim::EncoderSettings settings;
    settings.width = 176;
    settings.height = 144;
    settings.vuiTiming = vuiTiming;
    carsim::VideoEncoder encoder;
    if (!encoder.open(settings)) {
        return {};
    }
    std::vector<Bytes> out;
    for (int i = 0; i < frames; ++i) {
        drawPicture(encoder.planes(), encoder.strides(), settings.width, settings.height, 1, i);
        if (auto au = encoder.encode(i == 0)) {
            out.push_back(std::move(*au));
        }
    }
    return out;
}

Bytes firstSps(const std::vector<Bytes>& accessUnits) {
    for (const Bytes& au : accessUnits) {
        for (const Bytes& nal : carsim::splitAnnexB(au)) {
            if (carsim::nalType(nal) == 7) {
                return nal;
            }
        }
    }
    return {};
}

std::vector<Bytes> decodePictures(const std::vector<Bytes>& accessUnits) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    ContextPtr context(codec ? avcodec_alloc_context3(codec) : nullptr);
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!context || !frame || !packet) {
        return {};
    }
    context->thread_count = 1;
    context->err_recognition |= AV_EF_EXPLODE; // a damaged stream fails instead of concealing
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        return {};
    }
    std::vector<Bytes> pictures;
    auto receive = [&] {
        while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
            const AVPixFmtDescriptor* format =
                av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
            Bytes planes;
            for (int plane = 0; plane < 3; ++plane) {
                const int w = plane == 0 ? frame->width : frame->width >> format->log2_chroma_w;
                const int h = plane == 0 ? frame->height : frame->height >> format->log2_chroma_h;
                for (int row = 0; row < h; ++row) {
                    const uint8_t* line = frame->data[plane] + row * frame->linesize[plane];
                    planes.insert(planes.end(), line, line + w);
                }
            }
            pictures.push_back(std::move(planes));
            av_frame_unref(frame.get());
        }
    };
    for (const Bytes& au : accessUnits) {
        if (av_new_packet(packet.get(), static_cast<int>(au.size())) < 0) {
            return {};
        }
        std::copy(au.begin(), au.end(), packet->data);
        const int sent = avcodec_send_packet(context.get(), packet.get());
        av_packet_unref(packet.get());
        if (sent < 0) {
            return {};
        }
        receive();
    }
    avcodec_send_packet(context.get(), nullptr);
    receive();
    return pictures;
}

std::vector<Bytes> replaceSps(const std::vector<Bytes>& accessUnits,
                              const std::function<Bytes(const Bytes&)>& replace) {
    std::vector<Bytes> out;
    for (const Bytes& au : accessUnits) {
        std::vector<Bytes> nals = carsim::splitAnnexB(au);
        for (Bytes& nal : nals) {
            nal = carsim::nalType(nal) == 7 ? replace(nal) : nal;
        }
        out.push_back(carsim::joinAnnexB(nals));
    }
    return out;
}

const std::vector<NamedStream>& realStreams() {
    static const std::vector<NamedStream> streams = [] {
        const auto x264 = [](X264Stream s) { return encodeX264(s); };
        return std::vector<NamedStream>{
            {"car", encodeLikeCar(false, 3)},
            {"car_vui_timing", encodeLikeCar(true, 3)},
            {"x264_high", x264({.params = "ref=1"})},
            {"x264_refs4", x264({.frames = 1, .params = "ref=4"})},
            {"x264_nal_hrd", x264({.params = "ref=1:nal-hrd=vbr:bitrate=400:vbv-maxrate=500:"
                                             "vbv-bufsize=500"})},
            {"x264_interlaced", x264({.params = "ref=1:interlaced=1"})},
            {"x264_444", x264({.yuv444 = true, .profile = "high444", .params = "ref=1"})},
        };
    }();
    return streams;
}

const NamedStream& realStream(const std::string& name) {
    const auto& all = realStreams();
    return *std::find_if(all.begin(), all.end(), [&](const auto& s) { return s.name == name; });
}
