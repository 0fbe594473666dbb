#include "carsim/media/video_encoder.h"

#include "carsim/media/ffmpeg.h"
#include "carsim/media/sps_timing.h"

namespace carsim {

VideoEncoder::~VideoEncoder() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
}

bool VideoEncoder::open(const EncoderSettings& settings) {
    settings_ = settings;
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) {
        error_ = "libx264 encoder not available";
        return false;
    }
    context_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (context_ == nullptr || frame_ == nullptr || packet_ == nullptr) {
        error_ = "out of memory";
        return false;
    }
    const int64_t bitrate = int64_t{settings.bitrateKbps} * 1000;
    context_->width = settings.width;
    context_->height = settings.height;
    context_->pix_fmt = AV_PIX_FMT_YUV420P;
    context_->time_base = AVRational{1, settings.fps};
    context_->framerate = AVRational{settings.fps, 1};
    context_->bit_rate = bitrate;
    // A VBV of half a second bounds the size of a key frame, and so its datagram count.
    context_->rc_max_rate = bitrate;
    context_->rc_buffer_size = static_cast<int>(bitrate / 2);
    context_->gop_size = settings.gop;
    context_->max_b_frames = 0;
    context_->refs = 1;
    context_->thread_count = 1; // one slice per picture: the receiver gives each slice alone
                                // to its decoder
    // SPS and PPS go in band, before each IDR picture.
    context_->flags &= ~AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(context_->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context_->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context_->priv_data, "forced-idr", "1", 0);
    av_opt_set(context_->priv_data, "x264-params",
               "repeat-headers=1:scenecut=0:sliced-threads=0:slices=1:aud=0:log=0", 0);
    const int result = avcodec_open2(context_, codec, nullptr);
    if (result < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(result, text, sizeof text);
        error_ = std::string("cannot open libx264: ") + text;
        return false;
    }
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = settings.width;
    frame_->height = settings.height;
    if (av_frame_get_buffer(frame_, 0) < 0) {
        error_ = "cannot allocate the picture";
        return false;
    }
    return true;
}

uint8_t* const* VideoEncoder::planes() const {
    return frame_->data;
}

const int* VideoEncoder::strides() const {
    return frame_->linesize;
}

std::optional<Bytes> VideoEncoder::encode(bool keyFrame) {
    if (context_ == nullptr || av_frame_make_writable(frame_) < 0) {
        return std::nullopt;
    }
    frame_->pts = pts_++;
    frame_->pict_type = keyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
#ifdef AV_FRAME_FLAG_KEY
    frame_->flags =
        keyFrame ? (frame_->flags | AV_FRAME_FLAG_KEY) : (frame_->flags & ~AV_FRAME_FLAG_KEY);
#else
    frame_->key_frame = keyFrame ? 1 : 0;
#endif
    if (avcodec_send_frame(context_, frame_) < 0) {
        return std::nullopt;
    }
    Bytes accessUnit;
    while (avcodec_receive_packet(context_, packet_) == 0) {
        const Bytes part = normalise(packet_->data, static_cast<size_t>(packet_->size));
        accessUnit.insert(accessUnit.end(), part.begin(), part.end());
        av_packet_unref(packet_);
    }
    if (accessUnit.empty()) {
        return std::nullopt;
    }
    return accessUnit;
}

// x264 writes 3-byte start codes in front of some NAL units; the receiver only knows 4-byte
// ones. Its SPS also always carries timing info, which a car without it must not send.
Bytes VideoEncoder::normalise(const uint8_t* data, size_t size) const {
    std::vector<Bytes> nals = splitAnnexB(data, size);
    if (!settings_.vuiTiming) {
        for (Bytes& nal : nals) {
            if (nalType(nal) == 7) {
                if (auto stripped = removeSpsTiming(nal)) {
                    nal = std::move(*stripped);
                }
            }
        }
    }
    return joinAnnexB(nals);
}

} // namespace carsim
