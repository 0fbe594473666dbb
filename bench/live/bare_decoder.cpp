#include "bench/live/bare_decoder.h"

#include <climits>

#include "source/ffmpeg.h"

std::unique_ptr<BareDecoder> BareDecoder::create() {
    std::unique_ptr<BareDecoder> decoder(new BareDecoder);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    decoder->context = codec ? avcodec_alloc_context3(codec) : nullptr;
    decoder->frame = av_frame_alloc();
    decoder->packet = av_packet_alloc();
    if (!decoder->context || !decoder->frame || !decoder->packet ||
        avcodec_open2(decoder->context, codec, nullptr) != 0) {
        return nullptr;
    }
    decoder->rgba.resize(size_t{1280} * 720 * 4);
    return decoder;
}

BareDecoder::~BareDecoder() {
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
}

bool BareDecoder::decode(const std::vector<uint8_t>& accessUnit) {
    if (accessUnit.empty() || accessUnit.size() > size_t{INT_MAX}) {
        return false;
    }
    packet->data = const_cast<uint8_t*>(accessUnit.data());
    packet->size = static_cast<int>(accessUnit.size());
    avcodec_send_packet(context, packet);
    if (avcodec_receive_frame(context, frame) != 0) {
        return false;
    }
    scaler = sws_getCachedContext(scaler, frame->width, frame->height,
                                  static_cast<AVPixelFormat>(frame->format), 1280, 720,
                                  AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler) {
        return false;
    }
    uint8_t* const target[4] = {rgba.data(), nullptr, nullptr, nullptr};
    const int pitch[4] = {1280 * 4, 0, 0, 0};
    return sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, target, pitch) == 720;
}
