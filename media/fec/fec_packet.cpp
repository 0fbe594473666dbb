#include "media/fec/fec_packet.h"

#include <algorithm>

#include "net/byte_reader.h"

// Media packet, all fields big-endian and unsigned:
//
//   0      2      4      6      8      10     12            16
//   +------+------+------+------+------+------+-------------+--------------------------+
//   |frame |packet|  k   |  m   |shard |payld |frame length | payload (payld bytes)    |
//   |number|index |      |      | size |length|             |                          |
//   +------+------+------+------+------+------+-------------+--------------------------+
//
// Data packet i (i < k): the frame's bytes from i x shard size on, at most shard size of them
// (only the last one is shorter). Parity packet k + j: parity block j, shard size bytes.

int fecPayloadLengthAt(int index, int k, int m, int shardSize, uint32_t frameLength) {
    if (index < 0 || index >= k + m) {
        return -1;
    }
    if (index >= k) {
        return shardSize;
    }
    const uint64_t start =
        uint64_t{static_cast<uint32_t>(index)} * static_cast<uint32_t>(shardSize);
    if (start >= frameLength) {
        return 0;
    }
    return static_cast<int>(
        std::min<uint64_t>(static_cast<uint64_t>(shardSize), frameLength - start));
}

bool fecPacketIsWellFormed(const FecPacket& p) {
    if (p.k == 0 || p.k + p.m > kFecMaxPackets || p.shardSize == 0) {
        return false;
    }
    if (p.payload.size() != p.payloadLength || p.payloadLength > p.shardSize) {
        return false;
    }
    // k shards hold the frame and k - 1 do not: recovery writes exactly frame length bytes
    // from k blocks, and no data packet is empty.
    const uint64_t shard = p.shardSize;
    if (p.frameLength > p.k * shard || p.frameLength <= (p.k - 1u) * shard) {
        return false;
    }
    const int expected = fecPayloadLengthAt(p.packetIndex, p.k, p.m, p.shardSize, p.frameLength);
    return expected < 0 || expected == p.payloadLength;
}

std::unique_ptr<FecPacket> parseFecPacket(const uint8_t* bytes, size_t length) {
    if (bytes == nullptr || length < kFecHeaderSize) {
        return nullptr;
    }
    ByteReader reader(bytes, length);
    auto packet = std::make_unique<FecPacket>();
    reader.readU16(packet->frameNumber);
    reader.readU16(packet->packetIndex);
    reader.readU16(packet->k);
    reader.readU16(packet->m);
    reader.readU16(packet->shardSize);
    reader.readU16(packet->payloadLength);
    reader.readU32(packet->frameLength);
    reader.readBytes(static_cast<size_t>(reader.remaining()), packet->payload);
    if (reader.failed() || !fecPacketIsWellFormed(*packet)) {
        return nullptr;
    }
    return packet;
}

std::unique_ptr<FecPacket> parseFecPacket(const NetManager::NetPacket& datagram) {
    return parseFecPacket(datagram.data.data(), datagram.data.size());
}
