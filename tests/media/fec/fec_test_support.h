// Frames as the simulated car sends them: its packetizer makes the datagrams (data and parity),
// the tests drop, reorder and repeat them and feed the rest to the receiver's code.
#pragma once

#include <algorithm>
#include <vector>

#include "carsim/media/frame_packetizer.h"
#include "media/fec/fec_frame.h"

namespace fec_test {

using Datagram = std::vector<uint8_t>;

struct SentFrame {
    std::vector<uint8_t> bytes;
    std::vector<Datagram> datagrams; // k data, then m parity
    int k = 0;
    int m = 0;
};

// A frame of k data packets, the last one shortBy bytes short of a full shard, and m parity.
inline SentFrame packetizeFrame(int k, int m, int shard, int shortBy = 0) {
    SentFrame sent{std::vector<uint8_t>(static_cast<size_t>(k) * shard - shortBy), {}, k, m};
    for (size_t i = 0; i < sent.bytes.size(); ++i) {
        sent.bytes[i] = static_cast<uint8_t>((i * 2654435761u + k * 31 + m) >> 11);
    }
    sent.datagrams = carsim::FramePacketizer(shard, m).packetize(7, sent.bytes);
    return sent;
}

inline std::unique_ptr<FecPacket> parse(const Datagram& datagram) {
    return parseFecPacket(datagram.data(), datagram.size());
}

inline std::unique_ptr<FecPacket> packetAt(const SentFrame& sent, int index) {
    return parse(sent.datagrams.at(static_cast<size_t>(index)));
}

inline FecFrame frameFor(const SentFrame& sent) {
    return FecFrame(*packetAt(sent, 0));
}

// Every packet index of the frame but the lost ones, ascending.
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

inline Datagram makeDatagram(uint16_t number, uint16_t index, uint16_t k, uint16_t m,
                             uint16_t shard, uint16_t payloadLength, uint32_t frameLength,
                             size_t payloadSize) {
    Datagram datagram =
        carsim::FramePacketizer::makeHeader(number, index, k, m, shard, payloadLength, frameLength);
    datagram.resize(datagram.size() + payloadSize, 0x5a);
    return datagram;
}

} // namespace fec_test
