#include "clip_recorder.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "ffmpeg.h"
#include "zeb/zeb.h"

namespace {

std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

} // namespace

std::unique_ptr<ClipRecorder> ClipRecorder::open(const std::string& path, uint32_t width,
                                                 uint32_t height, double fps, std::string& error) {
    std::unique_ptr<ClipRecorder> clip(new ClipRecorder);
    clip->width = width;
    clip->height = height;
    const auto fail = [&](const std::string& what, int code = 0) {
        clip->fail(what, code);
        error = clip->failure;
        return nullptr;
    };
    if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX) {
        return fail("bad picture size");
    }
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        return fail("libavcodec has no libx264 encoder");
    }
    clip->encoder = avcodec_alloc_context3(codec);
    clip->picture = av_frame_alloc();
    clip->packet = av_packet_alloc();
    if (!clip->encoder || !clip->picture || !clip->packet) {
        return fail("out of memory");
    }
    int result = avformat_alloc_output_context2(&clip->container, nullptr, "mp4", path.c_str());
    if (result < 0 || !clip->container) {
        return fail("no MP4 muxer", result);
    }

    // Frame k carries time stamp k in a time base of one frame: every rendered frame is one
    // video frame, shown for one render period.
    const AVRational rate = av_d2q(fps, 1000000);
    AVCodecContext* c = clip->encoder;
    c->width = static_cast<int>(width);
    c->height = static_cast<int>(height);
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = av_inv_q(rate);
    c->framerate = rate;
    c->max_b_frames = 0;
    // A key frame every two seconds, so a player can seek in a long clip.
    c->gop_size = static_cast<int>(std::max(1L, std::lround(2 * fps)));
    if (clip->container->oformat->flags & AVFMT_GLOBALHEADER) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    // The encoder runs on the graphics thread between two renders: the fastest preset, no
    // look-ahead, and no chatter on stderr beside the module's log lines.
    av_opt_set(c->priv_data, "preset", "ultrafast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av_opt_set(c->priv_data, "x264-params", "log=-1", 0);
    // The encoder announces its settings at the information level when it opens. The level is
    // process-wide, so it is lowered for the open alone (no source decodes yet).
    const int logLevel = av_log_get_level();
    av_log_set_level(std::min(logLevel, AV_LOG_WARNING));
    result = avcodec_open2(c, codec, nullptr);
    av_log_set_level(logLevel);
    if (result < 0) {
        return fail("cannot open the H.264 encoder", result);
    }

    clip->picture->format = AV_PIX_FMT_YUV420P;
    clip->picture->width = c->width;
    clip->picture->height = c->height;
    if ((result = av_frame_get_buffer(clip->picture, 0)) < 0) {
        return fail("out of memory", result);
    }
    clip->converter = sws_getContext(c->width, c->height, AV_PIX_FMT_RGBA, c->width, c->height,
                                     AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!clip->converter) {
        return fail("no RGBA to YUV 4:2:0 converter");
    }

    clip->stream = avformat_new_stream(clip->container, nullptr);
    if (!clip->stream) {
        return fail("out of memory");
    }
    if ((result = avcodec_parameters_from_context(clip->stream->codecpar, c)) < 0) {
        return fail("cannot describe the stream", result);
    }
    clip->stream->time_base = c->time_base; // a hint; the muxer picks its own
    clip->stream->avg_frame_rate = rate;
    if ((result = avio_open(&clip->container->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0) {
        return fail("cannot open the file", result);
    }
    clip->fileOpen = true;
    if ((result = avformat_write_header(clip->container, nullptr)) < 0) {
        return fail("cannot write the file's header", result);
    }
    clip->headerWritten = true;
    return clip;
}

ClipRecorder::~ClipRecorder() {
    if (fileOpen) {
        avio_closep(&container->pb);
    }
    avformat_free_context(container);
    sws_freeContext(converter);
    av_packet_free(&packet);
    av_frame_free(&picture);
    avcodec_free_context(&encoder);
}

bool ClipRecorder::fail(const std::string& what, int code) {
    if (failure.empty()) {
        failure = code < 0 ? what + ": " + ffmpegError(code) : what;
    }
    return false;
}

bool ClipRecorder::addFrame(const uint8_t* rgba) {
    if (!failure.empty() || finished || !rgba) {
        return false;
    }
    const uint64_t start = os_gettime_ns();
    // The encoder may still hold the last frame's buffers.
    int result = av_frame_make_writable(picture);
    if (result < 0) {
        return fail("out of memory", result);
    }
    const uint8_t* const planes[4] = {rgba, nullptr, nullptr, nullptr};
    const int pitches[4] = {static_cast<int>(width * 4), 0, 0, 0};
    sws_scale(converter, planes, pitches, 0, static_cast<int>(height), picture->data,
              picture->linesize);
    picture->pts = static_cast<int64_t>(frames);
    if ((result = avcodec_send_frame(encoder, picture)) < 0) {
        return fail("the encoder refused a frame", result);
    }
    const bool ok = drainEncoder();
    ++frames;
    encodeNs += os_gettime_ns() - start;
    return ok;
}

bool ClipRecorder::drainEncoder() {
    int result = 0;
    while ((result = avcodec_receive_packet(encoder, packet)) == 0) {
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        // Takes the packet's reference whatever the result.
        if ((result = av_interleaved_write_frame(container, packet)) < 0) {
            return fail("cannot write to the file", result);
        }
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
        return fail("the encoder failed", result);
    }
    // Writes are buffered: a full disk shows here first.
    if (container->pb->error < 0) {
        return fail("cannot write to the file", container->pb->error);
    }
    return true;
}

bool ClipRecorder::finish() {
    if (finished) {
        return failure.empty();
    }
    finished = true;
    if (failure.empty()) {
        const int result = avcodec_send_frame(encoder, nullptr);
        if (result < 0) {
            fail("the encoder failed", result);
        } else {
            drainEncoder();
        }
    }
    if (failure.empty() && headerWritten) {
        const int result = av_write_trailer(container);
        if (result < 0) {
            fail("cannot write the file's index", result);
        }
    }
    if (fileOpen) {
        fileOpen = false;
        const int result = avio_closep(&container->pb);
        if (result < 0) {
            fail("cannot write to the file", result);
        }
    }
    return failure.empty();
}
