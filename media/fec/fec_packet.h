// One media packet: the payload of one video datagram of either car family. Each encoded frame
// travels as k data packets and m Cauchy Reed-Solomon parity packets over GF(2^8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/net_manager.h"

struct FecPacket {
    uint16_t frameNumber = 0; // wraps from 65535 to 0
    uint16_t packetIndex = 0; // 0..k-1 data, k..k+m-1 parity
    uint16_t k = 0;           // data packets of the frame
    uint16_t m = 0;           // parity packets of the frame
    uint16_t shardSize = 0;   // one coding block before padding
    uint16_t payloadLength = 0;
    uint32_t frameLength = 0; // the frame's bytes, the data payloads joined
    std::vector<uint8_t> payload;
};

constexpr size_t kFecHeaderSize = 16;
// The Cauchy matrix over GF(2^8) has no rows and columns beyond this many packets in all.
constexpr int kFecMaxPackets = 256;

// The packet a datagram carries, or none when the datagram is malformed: shorter than the
// header, a payload that differs from its length field, or a header that cannot describe a
// frame this code can hold (see fecPacketIsWellFormed).
std::unique_ptr<FecPacket> parseFecPacket(const NetManager::NetPacket& datagram);
std::unique_ptr<FecPacket> parseFecPacket(const uint8_t* bytes, size_t length);

// Whether the header describes a frame that exists and the payload is the one its index holds:
// 1 <= k, k + m <= 256, a shard of at least one byte, a frame length that needs exactly k
// shards, and a payload of exactly the length its index gives (the frame's bytes from
// index x shard size, at most shard size of them; a full shard for a parity packet). An index
// beyond the frame's packets is left to the frame to refuse.
bool fecPacketIsWellFormed(const FecPacket& packet);

// Expected payload length of packet `index` of a frame, or -1 when the index is out of range.
int fecPayloadLengthAt(int index, int k, int m, int shardSize, uint32_t frameLength);
