// Decode + convert + queue of one 1280 x 720 access unit, the work the device client's frame
// thread does for every picture.
#include <benchmark/benchmark.h>

#include "source/frame_decoder.h"
#include "source/picture_queue.h"
#include "tests/source/h264_fixture.h"

namespace {

void BM_DecodeConvertQueue(benchmark::State& state) {
    StreamShape shape;
    shape.frames = 120;
    shape.moving = true;
    const std::vector<std::vector<uint8_t>> units = encodeH264(shape);
    std::unique_ptr<FrameDecoder> decoder = FrameDecoder::create();
    if (units.size() != 120 || !decoder) {
        state.SkipWithError("could not set up the stream or the decoder");
        return;
    }
    PictureQueue queue;
    size_t next = 0;
    size_t pictures = 0;
    for (auto _ : state) {
        // After the last unit the stream starts again at its key frame.
        if (next == units.size()) {
            next = 0;
        }
        if (decoder->decodeFrame(units[next++])) {
            queue.push(decoder->rgba());
            ++pictures;
            // The renderer's side: keep the queue short, as a live render loop does.
            benchmark::DoNotOptimize(queue.takeFront());
        }
    }
    state.counters["pictures"] = static_cast<double>(pictures);
}

} // namespace

BENCHMARK(BM_DecodeConvertQueue)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
