#include "carsim/media/garbage_generator.h"

namespace carsim {

namespace {

// A filler-data NAL unit: whatever a receiver makes of a payload built from it, the decoder
// ignores it.
Bytes filler(size_t size) {
    Bytes bytes(size, 0xFF);
    const uint8_t head[] = {0, 0, 0, 1, 0x0C};
    for (size_t i = 0; i < sizeof head && i < size; ++i) {
        bytes[i] = head[i];
    }
    if (size > sizeof head) {
        bytes.back() = 0x80;
    }
    return bytes;
}

Bytes packet(uint16_t frame, uint16_t index, uint16_t k, uint16_t m, uint16_t shard,
             uint16_t claimedLength, uint32_t frameLength, const Bytes& payload) {
    Bytes datagram =
        FramePacketizer::makeHeader(frame, index, k, m, shard, claimedLength, frameLength);
    datagram.insert(datagram.end(), payload.begin(), payload.end());
    return datagram;
}

constexpr uint16_t kShard = 64;

} // namespace

const char* garbageKindName(GarbageKind kind) {
    switch (kind) {
    case GarbageKind::ShortHeader:
        return "short header";
    case GarbageKind::LengthMismatch:
        return "payload length mismatch";
    case GarbageKind::ZeroK:
        return "k = 0";
    case GarbageKind::TooManyPackets:
        return "k + m above 256";
    case GarbageKind::PayloadOverShard:
        return "payload longer than the shard";
    case GarbageKind::HugeFrameLength:
        return "huge frame length";
    case GarbageKind::DisagreeingHeaders:
        return "headers disagree within a frame";
    case GarbageKind::EmptyNalUnits:
        return "empty NAL units";
    case GarbageKind::ShortSlice:
        return "slice shorter than the trailer";
    }
    return "?";
}

bool garbageNeedsOwnFrame(GarbageKind kind) {
    return kind != GarbageKind::ShortHeader && kind != GarbageKind::LengthMismatch;
}

GarbageGenerator::GarbageGenerator(uint32_t seed, const FramePacketizer& packetizer)
    : packetizer_(packetizer), random_(seed ^ 0x5A5A5A5Au) {}

GarbageKind GarbageGenerator::nextKind() {
    const auto kind = static_cast<GarbageKind>(next_);
    next_ = (next_ + 1) % garbageKindCount;
    return kind;
}

std::vector<Bytes> GarbageGenerator::makeInFrame(GarbageKind kind, uint16_t frameNumber,
                                                 const Bytes* neighbour) {
    Bytes good = neighbour != nullptr && neighbour->size() > FramePacketizer::headerSize
                     ? *neighbour
                     : packet(frameNumber, 0, 1, 1, kShard, kShard, kShard, filler(kShard));
    if (kind == GarbageKind::ShortHeader) {
        good.resize(1 + random_() % (FramePacketizer::headerSize - 1));
        return {good};
    }
    // LengthMismatch: one byte short of or beyond what the header says.
    if (random_() % 2 == 0) {
        good.pop_back();
    } else {
        good.push_back(0xFF);
    }
    return {good};
}

std::vector<Bytes> GarbageGenerator::makeOwnFrame(GarbageKind kind, uint16_t frameNumber) const {
    const Bytes shardOfFiller = filler(kShard);
    switch (kind) {
    case GarbageKind::ZeroK:
        return {packet(frameNumber, 0, 0, 1, kShard, kShard, kShard, shardOfFiller)};
    case GarbageKind::TooManyPackets:
        return {packet(frameNumber, 300, 1, 300, kShard, kShard, kShard, shardOfFiller)};
    case GarbageKind::PayloadOverShard:
        return {
            packet(frameNumber, 1, 1, 1, kShard, 3 * kShard, kShard, filler(size_t{3} * kShard))};
    case GarbageKind::HugeFrameLength:
        return {packet(frameNumber, 1, 1, 1, kShard, kShard, 0xFFFFFFFFu, shardOfFiller)};
    case GarbageKind::DisagreeingHeaders:
        return {packet(frameNumber, 0, 2, 1, kShard, kShard, 2 * kShard, shardOfFiller),
                packet(frameNumber, 1, 3, 2, kShard / 2, kShard / 2, 3 * kShard / 2,
                       filler(kShard / 2))};
    case GarbageKind::EmptyNalUnits:
        return packetizer_.packetize(frameNumber,
                                     {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0x09, 0xF0});
    case GarbageKind::ShortSlice:
        // nal_ref_idc 0, so no later picture refers to it; first_mb_in_slice 65534 is beyond
        // any picture, so a decoder that gets it refuses it.
        return packetizer_.packetize(frameNumber,
                                     {0, 0, 0, 1, 0x01, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    case GarbageKind::ShortHeader:
    case GarbageKind::LengthMismatch:
        break;
    }
    return {};
}

} // namespace carsim
