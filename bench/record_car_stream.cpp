// Writes the simulated car's live test pattern, encoded as the car encodes it, to an H.264
// Annex B file: the stream that `carsim --input FILE` replays into the module and that a
// reference decoder reads from the file, so both decode exactly the same access units.
//
//   record_car_stream FILE [FRAMES (default 600)] [KBPS (default 1572, a Sonix car's default)]
#include <cstdio>
#include <fstream>
#include <string>

#include "carsim/media/pattern_source.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: record_car_stream FILE [FRAMES] [KBPS]\n");
        return 2;
    }
    const int frames = argc > 2 ? std::stoi(argv[2]) : 600;
    carsim::EncoderSettings settings;
    settings.bitrateKbps = argc > 3 ? std::stoi(argv[3]) : 1572;
    carsim::PatternSource source(settings);
    if (!source.open()) {
        std::fprintf(stderr, "record_car_stream: %s\n", source.error().c_str());
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    size_t bytes = 0;
    for (int i = 0; i < frames; ++i) {
        const auto unit = source.nextFrame(false);
        if (!unit) {
            std::fprintf(stderr, "record_car_stream: the encoder gave no frame %d\n", i);
            return 1;
        }
        out.write(reinterpret_cast<const char*>(unit->data()),
                  static_cast<std::streamsize>(unit->size()));
        bytes += unit->size();
    }
    if (!out) {
        std::fprintf(stderr, "record_car_stream: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%d frames, %.2f Mbit/s at 30 frames a second\n", frames,
                static_cast<double>(bytes) * 8 * 30 / frames / 1e6);
    return 0;
}
