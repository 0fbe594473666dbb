#pragma once

#include <random>

#include "carsim/media/annexb.h"
#include "carsim/media/frame_packetizer.h"

namespace carsim {

// Hostile datagrams a receiver must survive without reading or writing outside its buffers.
enum class GarbageKind {
    // Refused at parse time; placed inside a good frame, claiming one of its packet slots.
    ShortHeader,    // fewer than 16 bytes
    LengthMismatch, // a good packet's header with one payload byte more or less than it says
    // Parse, so each takes a frame number of its own that no good frame uses.
    ZeroK,              // k = 0
    TooManyPackets,     // k + m above 256, sent as its last parity packet (recovery is tried)
    PayloadOverShard,   // the lone parity packet's payload is longer than the shard size
    HugeFrameLength,    // the lone parity packet claims a frame of 4 GiB
    DisagreeingHeaders, // two packets of one frame with different k, m, shard and length
    EmptyNalUnits,      // a well-formed frame of 00 00 00 01 00 00 00 01 ... start codes
    ShortSlice,         // a well-formed frame whose slice is shorter than a 32-byte trailer
};
constexpr int garbageKindCount = 9;
const char* garbageKindName(GarbageKind kind);

// Whether the kind's datagrams form a frame of their own (else they sit among a good frame's).
bool garbageNeedsOwnFrame(GarbageKind kind);

class GarbageGenerator {
public:
    GarbageGenerator(uint32_t seed, const FramePacketizer& packetizer);

    // The kinds in turn, so that a short run shows every one of them.
    GarbageKind nextKind();

    // Datagrams of an in-frame kind, copying the header of neighbour (a good datagram of the
    // frame frameNumber) where there is one.
    std::vector<Bytes> makeInFrame(GarbageKind kind, uint16_t frameNumber, const Bytes* neighbour);
    // Datagrams of a kind that is a frame of its own, numbered frameNumber.
    std::vector<Bytes> makeOwnFrame(GarbageKind kind, uint16_t frameNumber) const;

private:
    const FramePacketizer& packetizer_;
    std::mt19937 random_;
    int next_ = 0;
};

} // namespace carsim
