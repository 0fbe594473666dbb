// Frames as the simulated car sends them: its packetizer makes the datagrams (data and parity),
// the tests drop, reorder and repeat them and feed what is left to the receiver's code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "carsim/media/frame_packetizer.h"
#include "media/fec/fec_frame.h"
#include "media/fec/fec_packet.h"

namespace fec_test {

using Datagram = std::vector<uint8_t>;

struct SentFrame {
    std::vector<uint8_t> bytes;
    std::vector<Datagram> datagrams; // index order: k data, then m parity
    int k = 0;
    int m = 0;
};

// Bytes that differ from frame to frame and from position to position.
inline std::vector<uint8_t> frameBytes(size_t length, uint32_t seed) {
    std::vector<uint8_t> bytes(length);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

// A frame of frameLength bytes cut by the simulator into shard-sized data packets plus
// `parity` parity packets.
inline SentFrame packetizeFrame(uint16_t number, size_t frameLength, int shard, int parity,
                                uint32_t seed = 1) {
    SentFrame sent;
    sent.bytes = frameBytes(frameLength, seed + number);
    sent.datagrams = carsim::FramePacketizer(shard, parity).packetize(number, sent.bytes);
    sent.m = parity;
    sent.k = static_cast<int>(sent.datagrams.size()) - parity;
    return sent;
}

// The same with exactly k data packets, the last one `shortBy` bytes short of a full shard.
inline SentFrame packetizeFrameOf(int k, int m, int shard, int shortBy = 0, uint16_t number = 7) {
    const size_t length = static_cast<size_t>(k) * shard - static_cast<size_t>(shortBy);
    return packetizeFrame(number, length, shard, m, static_cast<uint32_t>(k * 1000 + m));
}

inline std::unique_ptr<FecPacket> packetAt(const SentFrame& sent, int index) {
    const Datagram& datagram = sent.datagrams.at(static_cast<size_t>(index));
    return parseFecPacket(datagram.data(), datagram.size());
}

// The receiver's frame for the sent one, shaped by its first datagram's header.
inline FecFrame frameFor(const SentFrame& sent) {
    return FecFrame(*packetAt(sent, 0));
}

// Every packet index of the frame except the lost ones, ascending.
inline std::vector<int> dropPackets(const SentFrame& sent, const std::vector<int>& lost) {
    std::vector<int> kept;
    for (int i = 0; i < sent.k + sent.m; ++i) {
        if (std::find(lost.begin(), lost.end(), i) == lost.end()) {
            kept.push_back(i);
        }
    }
    return kept;
}

inline std::vector<AddResult> deliverPackets(FecFrame& frame, const SentFrame& sent,
                                             const std::vector<int>& order) {
    std::vector<AddResult> results;
    for (int index : order) {
        results.push_back(addPacket(frame, packetAt(sent, index)));
    }
    return results;
}

// A datagram with the given header fields and `payloadSize` payload bytes.
inline Datagram makeDatagram(uint16_t number, uint16_t index, uint16_t k, uint16_t m,
                             uint16_t shard, uint16_t payloadLength, uint32_t frameLength,
                             size_t payloadSize) {
    Datagram datagram =
        carsim::FramePacketizer::makeHeader(number, index, k, m, shard, payloadLength, frameLength);
    datagram.resize(datagram.size() + payloadSize, 0x5a);
    return datagram;
}

inline std::unique_ptr<FecPacket> parse(const Datagram& datagram) {
    return parseFecPacket(datagram.data(), datagram.size());
}

} // namespace fec_test
