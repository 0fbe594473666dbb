#pragma once

// What a receiver does with the car's datagrams, written apart from the simulator's own code:
// the probe and the simulator's tests check the wire against this independent reading of it.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace wirecheck {

using Bytes = std::vector<uint8_t>;

struct WirePacket {
    uint16_t frame = 0, index = 0, k = 0, m = 0, shard = 0, length = 0;
    uint32_t frameLength = 0;
    Bytes payload;
};

// None for a datagram shorter than the header or whose payload length disagrees.
std::optional<WirePacket> parseWire(const Bytes& datagram);

// Rebuilds a frame with jerasure from whatever of its packets are given (any k of k + m).
std::optional<Bytes> rebuildFrame(const std::vector<WirePacket>& packets);

// The datagrams' packets by frame number, skipping those in erase (packet indices).
std::map<uint16_t, std::vector<WirePacket>> groupByFrame(const std::vector<Bytes>& datagrams,
                                                         const std::set<int>& erase = {});

// NAL units cut at 4-byte start codes only, the receiver's rule.
std::vector<Bytes> cutAtLongStartCodes(const Bytes& frame);

// The frame as the receiver hands it to its decoder: cut at 4-byte start codes and joined again,
// with the 32-byte telemetry trailer dropped from the end of each slice when there is one.
Bytes decoderInput(const Bytes& frame, bool slicesHaveTrailers);

struct Picture {
    int width = 0, height = 0;
    int frameRateNum = 0, frameRateDen = 0;
    bool key = false;
    Bytes y, u, v; // tightly packed planes
};

// libavcodec's H.264 decoder, fed one access unit at a time.
class Decoder {
public:
    Decoder();
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    bool ok() const { return context_ != nullptr; }
    // The pictures the access unit gives; errors counts refused packets.
    std::vector<Picture> decode(const Bytes& accessUnit);
    int errors = 0;

private:
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
};

// Rough RGB of a decoded pixel (BT.601 limited range).
struct Rgb {
    int r, g, b;
};
Rgb pixelRgb(const Picture& picture, int x, int y);

} // namespace wirecheck
