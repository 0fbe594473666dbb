#include <cauchy.h>
#include <galois.h>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "carsim/media/frame_packetizer.h"
#include "carsim/probe/wire_check.h"

namespace carsim {
namespace {

using wirecheck::groupByFrame;
using wirecheck::parseWire;
using wirecheck::rebuildFrame;

Bytes randomFrame(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes frame(size);
    for (uint8_t& b : frame) {
        b = static_cast<uint8_t>(random());
    }
    return frame;
}

// Rebuilds the frame after erasing the given packet indices.
std::optional<Bytes> rebuildWithout(const std::vector<Bytes>& datagrams,
                                    const std::set<int>& erase) {
    auto frames = groupByFrame(datagrams, erase);
    if (frames.size() != 1) {
        return std::nullopt;
    }
    return rebuildFrame(frames.begin()->second);
}

TEST(FramePacketizer, CutsFrameIntoDataAndParityPacketsWithBigEndianHeaders) {
    FramePacketizer packetizer(1000, 1);
    const Bytes frame = randomFrame(2500, 1);
    const auto datagrams = packetizer.packetize(0x1234, frame);
    ASSERT_EQ(datagrams.size(), 4u);
    const size_t payloads[] = {1000, 1000, 500, 1000};
    for (size_t i = 0; i < datagrams.size(); ++i) {
        auto p = parseWire(datagrams[i]);
        ASSERT_TRUE(p);
        EXPECT_EQ(datagrams[i][0], 0x12);
        EXPECT_EQ(datagrams[i][1], 0x34);
        EXPECT_EQ(p->frame, 0x1234);
        EXPECT_EQ(p->index, i);
        EXPECT_EQ(p->k, 3);
        EXPECT_EQ(p->m, 1);
        EXPECT_EQ(p->shard, 1000);
        EXPECT_EQ(p->length, payloads[i]);
        EXPECT_EQ(p->frameLength, 2500u);
        if (i < 3) {
            EXPECT_TRUE(std::equal(p->payload.begin(), p->payload.end(),
                                   frame.begin() + static_cast<ptrdiff_t>(i * 1000)));
        }
    }
}

TEST(FramePacketizer, AnyKOfKPlusMPacketsGiveTheFrameBackByteForByte) {
    FramePacketizer packetizer(1024, 2);
    for (size_t size :
         {size_t{1}, size_t{1023}, size_t{1024}, size_t{1025}, size_t{5000}, size_t{40000}}) {
        const Bytes frame = randomFrame(size, static_cast<uint32_t>(size));
        const auto datagrams = packetizer.packetize(7, frame);
        const int k = static_cast<int>((size + 1023) / 1024);
        ASSERT_EQ(datagrams.size(), static_cast<size_t>(k + 2));
        const std::vector<std::set<int>> erasures = {{},      {0},        {k - 1},    {k},
                                                     {k + 1}, {0, k - 1}, {k, k + 1}, {0, k + 1}};
        for (const auto& erase : erasures) {
            auto rebuilt = rebuildWithout(datagrams, erase);
            ASSERT_TRUE(rebuilt) << "size " << size;
            EXPECT_EQ(*rebuilt, frame) << "size " << size << " erased " << erase.size();
        }
    }
}

TEST(FramePacketizer, ShardSizeThatIsNotAMultipleOf16StillRepairs) {
    FramePacketizer packetizer(1000, 3);
    const Bytes frame = randomFrame(4321, 9);
    const auto datagrams = packetizer.packetize(1, frame);
    ASSERT_EQ(datagrams.size(), 8u);
    EXPECT_EQ(parseWire(datagrams[5])->payload.size(), 1000u) << "parity is exactly one shard";
    auto rebuilt = rebuildWithout(datagrams, {0, 2, 4});
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(*rebuilt, frame);
}

// The receiver relies on this exact code, not merely on some erasure code.
TEST(FramePacketizer, ParityIsTheBytewiseCauchySumOverGf256) {
    const int k = 5, m = 3, shard = 64;
    FramePacketizer packetizer(shard, m);
    const Bytes frame = randomFrame(k * shard - 10, 3);
    const auto datagrams = packetizer.packetize(0, frame);
    ASSERT_EQ(datagrams.size(), static_cast<size_t>(k + m));
    int* matrix = cauchy_original_coding_matrix(k, m, 8);
    for (int j = 0; j < m; ++j) {
        const Bytes parity =
            parseWire(datagrams.at(static_cast<size_t>(k) + static_cast<size_t>(j)))->payload;
        for (int b = 0; b < shard; ++b) {
            int sum = 0;
            for (int i = 0; i < k; ++i) {
                const size_t at = static_cast<size_t>(i) * shard + static_cast<size_t>(b);
                const int byte = at < frame.size() ? frame[at] : 0;
                sum ^= galois_single_multiply(matrix[j * k + i], byte, 8);
            }
            ASSERT_EQ(parity[static_cast<size_t>(b)], sum) << "parity " << j << " byte " << b;
        }
    }
    free(matrix);
}

TEST(FramePacketizer, LargeFrameGetsLargerShardsAndStaysWithin256PacketsAnd2048Bytes) {
    FramePacketizer packetizer(1024, 2);
    const Bytes frame = randomFrame(300000, 5);
    const auto datagrams = packetizer.packetize(3, frame);
    ASSERT_FALSE(datagrams.empty());
    const auto first = parseWire(datagrams[0]);
    EXPECT_LE(first->k + first->m, 256);
    EXPECT_EQ(first->shard % 16, 0);
    EXPECT_EQ(first->shard, packetizer.shardSizeFor(frame.size()));
    for (const Bytes& d : datagrams) {
        EXPECT_LE(d.size(), 2048u);
    }
    auto rebuilt = rebuildWithout(datagrams, {0, first->k - 1});
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(*rebuilt, frame);
}

TEST(FramePacketizer, RefusesFramesNoShardCanCarryAndEmptyFrames) {
    FramePacketizer packetizer(1024, 2);
    EXPECT_EQ(packetizer.shardSizeFor(size_t{254} * 2032), 2032);
    EXPECT_TRUE(packetizer.packetize(0, randomFrame(size_t{254} * 2032 + 1, 1)).empty());
    EXPECT_TRUE(packetizer.packetize(0, {}).empty());
}

TEST(FramePacketizer, ClampsShardSizeToTheLargestPayload) {
    FramePacketizer packetizer(4000, 0);
    EXPECT_EQ(packetizer.shardSize(), 2032);
    const auto datagrams = packetizer.packetize(0, randomFrame(5000, 2));
    ASSERT_EQ(datagrams.size(), 3u);
    EXPECT_EQ(datagrams[0].size(), 2048u);
    EXPECT_EQ(parseWire(datagrams[0])->m, 0);
}

} // namespace
} // namespace carsim
