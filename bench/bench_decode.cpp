// Decoding on the source's frame thread: decode + convert + queue of the car's access units,
// beside bare libavcodec + swscale of the same access units in the same binary, on 720p30
// streams with moving content at about 1.2 Mbit/s (what the simulated car puts on the wire) and
// 4 Mbit/s. The renderer's side runs on the same thread here (take the picture,
// hand the buffer back), so both columns count every CPU cycle a picture costs.
#include <benchmark/benchmark.h>
#include <vector>

#include "carsim/media/video_encoder.h"
#include "source/ffmpeg.h"
#include "source/frame_decoder.h"
#include "source/picture_queue.h"

namespace {

constexpr int kFrames = 300;

// 720p30 with moving content, through the simulated car's encoder (libx264 set up as a car
// sets it up): a drifting texture with some grain, so that the rate setting is what comes out
// (the car's own test pattern is too plain to need more than 0.7 Mbit/s). The counter
// stream_mbit_s reports the rate that came out.
const std::vector<std::vector<uint8_t>>& carStream(int kbps) {
    static std::vector<std::pair<int, std::vector<std::vector<uint8_t>>>> made;
    for (const auto& [rate, units] : made) {
        if (rate == kbps) {
            return units;
        }
    }
    carsim::VideoEncoder encoder;
    carsim::EncoderSettings settings;
    settings.bitrateKbps = kbps;
    std::vector<std::vector<uint8_t>> units;
    uint32_t grain = 12345;
    if (encoder.open(settings)) {
        for (int i = 0; i < kFrames; ++i) {
            uint8_t* const* planes = encoder.planes();
            const int* strides = encoder.strides();
            for (int y = 0; y < 720; ++y) {
                for (int x = 0; x < 1280; ++x) {
                    grain = grain * 1103515245u + 12345u;
                    planes[0][y * strides[0] + x] = static_cast<uint8_t>(
                        ((x + 3 * i) ^ (y + 2 * i)) / 2 + 64 + ((grain >> 28) & 7));
                }
            }
            for (int c = 1; c <= 2; ++c) {
                for (int y = 0; y < 360; ++y) {
                    for (int x = 0; x < 640; ++x) {
                        planes[c][y * strides[c] + x] =
                            static_cast<uint8_t>(128 + ((x * c + y + 4 * i) & 63) - 32);
                    }
                }
            }
            if (auto unit = encoder.encode(i % 30 == 0)) {
                units.push_back(std::move(*unit));
            }
        }
    }
    made.emplace_back(kbps, std::move(units));
    return made.back().second;
}

void BM_DecodeConvertQueue(benchmark::State& state) {
    const auto& units = carStream(static_cast<int>(state.range(0)));
    std::unique_ptr<FrameDecoder> decoder = FrameDecoder::create();
    if (units.size() != kFrames || !decoder) {
        state.SkipWithError("could not set up the stream or the decoder");
        return;
    }
    PictureQueue queue;
    std::vector<uint8_t> next;
    const auto wanted = [] { return true; };
    size_t i = 0;
    for (auto _ : state) {
        // After the last unit the stream starts again at its key frame.
        if (next.empty()) {
            next = queue.takeSpare();
        }
        if (decoder->decodeFrame(units[i++ % units.size()], next)) {
            queue.push(next, wanted);
            // The renderer's side: one picture out per render, its buffer handed back.
            if (auto picture = queue.takeFront()) {
                benchmark::DoNotOptimize(picture->data());
                queue.recycle(std::move(*picture));
            }
        }
    }
    state.counters["scaler_builds"] = decoder->scalerBuilds();
    size_t bytes = 0;
    for (const auto& unit : units) {
        bytes += unit.size();
    }
    state.counters["stream_mbit_s"] = bytes * 8.0 * 30 / units.size() / 1e6;
}

// The yardstick: libavcodec and swscale alone, converting every picture into one buffer.
void BM_BareLibavcodecSwscale(benchmark::State& state) {
    const auto& units = carStream(static_cast<int>(state.range(0)));
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (units.size() != kFrames || avcodec_open2(context, codec, nullptr) != 0) {
        state.SkipWithError("could not set up the stream or the decoder");
        return;
    }
    SwsContext* scaler = nullptr;
    std::vector<uint8_t> rgba(size_t{1280} * 720 * 4);
    size_t i = 0;
    for (auto _ : state) {
        const auto& unit = units[i++ % units.size()];
        packet->data = const_cast<uint8_t*>(unit.data());
        packet->size = static_cast<int>(unit.size());
        avcodec_send_packet(context, packet);
        if (avcodec_receive_frame(context, frame) == 0) {
            scaler = sws_getCachedContext(scaler, frame->width, frame->height,
                                          static_cast<AVPixelFormat>(frame->format), 1280, 720,
                                          AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr,
                                          nullptr);
            uint8_t* const target[4] = {rgba.data(), nullptr, nullptr, nullptr};
            const int pitch[4] = {1280 * 4, 0, 0, 0};
            sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, target, pitch);
            benchmark::DoNotOptimize(rgba.data());
        }
    }
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
}

BENCHMARK(BM_DecodeConvertQueue)->Arg(1200)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareLibavcodecSwscale)->Arg(1200)->Arg(4000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
