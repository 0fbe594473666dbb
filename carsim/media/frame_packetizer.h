#pragma once

#include "carsim/media/annexb.h"

namespace carsim {

// Cuts one encoded frame into the media packets of one datagram each: k data packets and m
// Cauchy Reed-Solomon parity packets over GF(2^8).
//
//  0  frame number    u16    big-endian throughout
//  2  packet index    u16    0..k-1 data, k..k+m-1 parity
//  4  k               u16
//  6  m               u16
//  8  shard size      u16
// 10  payload length  u16
// 12  frame length    u32
// 16  payload
class FramePacketizer {
public:
    static constexpr int headerSize = 16;
    static constexpr int maxDatagram = 2048; // the receiver reads no more
    static constexpr int maxPayload = maxDatagram - headerSize;
    static constexpr int maxPackets = 256; // the Cauchy matrix over GF(2^8) ends there

    // shardSize is clamped to 16..maxPayload and parityPackets to 0..128.
    FramePacketizer(int shardSize, int parityPackets);

    int shardSize() const { return shardSize_; }
    int parityPackets() const { return parity_; }

    // The shard size used for a frame: the configured one, or for a frame that would need more
    // than maxPackets packets the smallest multiple of 16 that fits it; 0 if even maxPayload
    // does not fit it (the frame cannot be sent).
    int shardSizeFor(size_t frameLength) const;

    // Data packets in order, then parity packets. Empty for an empty frame or one too large.
    std::vector<Bytes> packetize(uint16_t frameNumber, const Bytes& frame) const;

    static Bytes makeHeader(uint16_t frameNumber, uint16_t index, uint16_t k, uint16_t m,
                            uint16_t shardSize, uint16_t payloadLength, uint32_t frameLength);

private:
    int shardSize_;
    int parity_;
};

} // namespace carsim
