#include "carsim/media/frame_packetizer.h"

#include <algorithm>
#include <cauchy.h>
#include <cstdlib>
#include <cstring>
#include <jerasure.h>

namespace carsim {

namespace {

// jerasure works on regions whose size is a multiple of sizeof(long); 16 covers that.
int roundUp16(size_t value) {
    return static_cast<int>((value + 15) / 16 * 16);
}

} // namespace

FramePacketizer::FramePacketizer(int shardSize, int parityPackets)
    : shardSize_(std::clamp(shardSize, 16, maxPayload)),
      parity_(std::clamp(parityPackets, 0, 128)) {}

int FramePacketizer::shardSizeFor(size_t frameLength) const {
    const size_t maxData = static_cast<size_t>(maxPackets - parity_);
    if ((frameLength + shardSize_ - 1) / shardSize_ <= maxData) {
        return shardSize_;
    }
    const int raised = roundUp16((frameLength + maxData - 1) / maxData);
    return raised <= maxPayload ? raised : 0;
}

Bytes FramePacketizer::makeHeader(uint16_t frameNumber, uint16_t index, uint16_t k, uint16_t m,
                                  uint16_t shardSize, uint16_t payloadLength,
                                  uint32_t frameLength) {
    Bytes header;
    header.reserve(headerSize);
    for (uint16_t field : {frameNumber, index, k, m, shardSize, payloadLength}) {
        header.push_back(static_cast<uint8_t>(field >> 8));
        header.push_back(static_cast<uint8_t>(field));
    }
    for (int shift = 24; shift >= 0; shift -= 8) {
        header.push_back(static_cast<uint8_t>(frameLength >> shift));
    }
    return header;
}

std::vector<Bytes> FramePacketizer::packetize(uint16_t frameNumber, const Bytes& frame) const {
    const int shard = shardSizeFor(frame.size());
    if (frame.empty() || shard == 0) {
        return {};
    }
    const int k = static_cast<int>((frame.size() + shard - 1) / shard);
    const int m = parity_;
    const auto frameLength = static_cast<uint32_t>(frame.size());
    std::vector<Bytes> datagrams;
    datagrams.reserve(static_cast<size_t>(k) + static_cast<size_t>(m));

    // Zero-padded working blocks: the parity of the padding is zero, so encoding the larger
    // block gives the shard's parity in its first shard bytes.
    const int block = roundUp16(static_cast<size_t>(shard));
    std::vector<char> data(static_cast<size_t>(k) * block, 0);
    std::vector<char> coding(static_cast<size_t>(m) * block, 0);
    std::vector<char*> dataPtrs(static_cast<size_t>(k));
    std::vector<char*> codingPtrs(static_cast<size_t>(m));
    for (int i = 0; i < k; ++i) {
        const size_t offset = static_cast<size_t>(i) * shard;
        const size_t length = std::min(static_cast<size_t>(shard), frame.size() - offset);
        dataPtrs[i] = data.data() + static_cast<size_t>(i) * block;
        std::memcpy(dataPtrs[i], frame.data() + offset, length);
        Bytes datagram = makeHeader(frameNumber, static_cast<uint16_t>(i), static_cast<uint16_t>(k),
                                    static_cast<uint16_t>(m), static_cast<uint16_t>(shard),
                                    static_cast<uint16_t>(length), frameLength);
        datagram.insert(datagram.end(), frame.begin() + static_cast<ptrdiff_t>(offset),
                        frame.begin() + static_cast<ptrdiff_t>(offset + length));
        datagrams.push_back(std::move(datagram));
    }
    if (m == 0) {
        return datagrams;
    }
    for (int j = 0; j < m; ++j) {
        codingPtrs[j] = coding.data() + static_cast<size_t>(j) * block;
    }
    int* matrix = cauchy_original_coding_matrix(k, m, 8);
    if (matrix == nullptr) {
        return datagrams; // cannot happen for k + m <= 256; the data packets still go out
    }
    jerasure_matrix_encode(k, m, 8, matrix, dataPtrs.data(), codingPtrs.data(), block);
    std::free(matrix);
    for (int j = 0; j < m; ++j) {
        Bytes datagram =
            makeHeader(frameNumber, static_cast<uint16_t>(k + j), static_cast<uint16_t>(k),
                       static_cast<uint16_t>(m), static_cast<uint16_t>(shard),
                       static_cast<uint16_t>(shard), frameLength);
        datagram.insert(datagram.end(), codingPtrs[j], codingPtrs[j] + shard);
        datagrams.push_back(std::move(datagram));
    }
    return datagrams;
}

} // namespace carsim
