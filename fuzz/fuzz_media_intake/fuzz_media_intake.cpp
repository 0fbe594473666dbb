// The media receiver fed a sequence of datagrams from anyone: the first byte picks the car
// family, then each datagram is a 2-byte big-endian length and that many bytes (0xFFFF: a
// stream restart, i.e. a reset). Oracles: nothing crashes or reads outside its buffers, every
// access unit starts with a start code, frame numbers handed on never go down between resets,
// and the table of frames in assembly stays bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "media/receiver/media_receiver.h"

namespace {

class CheckingSink final : public MediaSink {
public:
    void deliverFrame(int32_t frameNumber, int64_t, const std::vector<uint8_t>& unit) override {
        if (unit.size() < 5 || unit[0] != 0 || unit[1] != 0 || unit[2] != 0 || unit[3] != 1) {
            std::abort();
        }
        if (frameNumber < lastNumber) {
            std::abort();
        }
        lastNumber = frameNumber;
    }
    void requestKeyFrame() override {}
    void onSliceTrailer(SliceTrailerBytes trailer) override {
        volatile uint8_t sum = 0;
        for (uint8_t byte : trailer) {
            sum = static_cast<uint8_t>(sum + byte);
        }
    }
    int32_t lastNumber = -1;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    CheckingSink sink;
    MediaReceiver receiver((data[0] & 1) != 0 ? MediaReceiver::Family::Zoderiv
                                              : MediaReceiver::Family::Sonix,
                           sink);
    size_t at = 1;
    int64_t timestamp = 0;
    while (at + 2 <= size) {
        const size_t length = (size_t{data[at]} << 8) | data[at + 1];
        at += 2;
        if (length == 0xFFFF) {
            receiver.reset();
            sink.lastNumber = -1;
            continue;
        }
        const size_t taken = length < size - at ? length : size - at;
        NetManager::NetPacket packet;
        packet.data.assign(data + at, data + at + taken);
        packet.timestamp = ++timestamp;
        receiver.onPacket(packet);
        at += taken;
        if (receiver.framesInAssembly() > MediaReceiver::kMaxFramesInAssembly) {
            std::abort();
        }
    }
    return 0;
}
