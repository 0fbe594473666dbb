#include <cauchy.h>
#include <galois.h>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "carsim/media/frame_packetizer.h"
#include "carsim/probe/wire_check.h"

namespace carsim {
namespace {

using wirecheck::parseWire;

Bytes randomFrame(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes frame(size);
    for (uint8_t& b : frame) {
        b = static_cast<uint8_t>(random());
    }
    return frame;
}

std::optional<Bytes> rebuildWithout(const std::vector<Bytes>& datagrams,
                                    const std::set<int>& erase) {
    auto frames = wirecheck::groupByFrame(datagrams, erase);
    return frames.size() == 1 ? wirecheck::rebuildFrame(frames.begin()->second) : std::nullopt;
}

TEST(FramePacketizer, HeadersAreBigEndianAndParityIsOneWholeShard) {
    const Bytes frame = randomFrame(2500, 1);
    const auto datagrams = FramePacketizer(1000, 1).packetize(0x1234, frame);
    ASSERT_EQ(datagrams.size(), 4u);
    EXPECT_EQ(Bytes(datagrams[2].begin(), datagrams[2].begin() + 16),
              (Bytes{0x12, 0x34, 0, 2, 0, 3, 0, 1, 0x03, 0xE8, 0x01, 0xF4, 0, 0, 0x09, 0xC4}));
    EXPECT_EQ(parseWire(datagrams[3])->payload.size(), 1000u) << "parity is one whole shard";
}

// Repair of every erasure pattern from these datagrams is the receiver's test (tests/media/fec);
// here the exact bytes: header, parity code and limits.
// The receiver relies on this exact code, not merely on some erasure code.
TEST(FramePacketizer, ParityIsTheBytewiseCauchySumOverGf256) {
    const int k = 5, m = 3, shard = 64;
    const Bytes frame = randomFrame(k * shard - 10, 3);
    const auto datagrams = FramePacketizer(shard, m).packetize(0, frame);
    ASSERT_EQ(datagrams.size(), static_cast<size_t>(k + m));
    int* matrix = cauchy_original_coding_matrix(k, m, 8);
    for (int j = 0; j < m; ++j) {
        const Bytes parity = parseWire(datagrams.at(static_cast<size_t>(k + j)))->payload;
        for (int b = 0; b < shard; ++b) {
            int sum = 0;
            for (int i = 0; i < k; ++i) {
                const size_t at = static_cast<size_t>(i * shard + b);
                sum ^=
                    galois_single_multiply(matrix[j * k + i], at < frame.size() ? frame[at] : 0, 8);
            }
            ASSERT_EQ(parity[static_cast<size_t>(b)], sum) << "parity " << j << " byte " << b;
        }
    }
    free(matrix);
}

TEST(FramePacketizer, StaysWithin256PacketsAnd2048BytesOrRefusesTheFrame) {
    FramePacketizer packetizer(1024, 2);
    const Bytes frame = randomFrame(300000, 5);
    const auto datagrams = packetizer.packetize(3, frame);
    const auto first = parseWire(datagrams.at(0));
    EXPECT_LE(first->k + first->m, 256);
    EXPECT_EQ(first->shard % 16, 0);
    for (const Bytes& d : datagrams) {
        EXPECT_LE(d.size(), 2048u);
    }
    EXPECT_EQ(rebuildWithout(datagrams, {0, first->k - 1}), frame);

    EXPECT_EQ(packetizer.shardSizeFor(size_t{254} * 2032), 2032);
    EXPECT_TRUE(packetizer.packetize(0, randomFrame(size_t{254} * 2032 + 1, 1)).empty());
    EXPECT_TRUE(packetizer.packetize(0, {}).empty());
    const auto clamped = FramePacketizer(4000, 0).packetize(0, randomFrame(5000, 2));
    ASSERT_EQ(clamped.size(), 3u);
    EXPECT_EQ(clamped[0].size(), 2048u);
}

} // namespace
} // namespace carsim
