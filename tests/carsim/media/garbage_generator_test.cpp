#include <set>

#include <gtest/gtest.h>

#include "carsim/media/media_stream.h"
#include "carsim/probe/wire_check.h"

namespace carsim {
namespace {

using wirecheck::cutAtLongStartCodes;
using wirecheck::parseWire;
using wirecheck::WirePacket;

// Checks that the garbage datagrams of one tick are of the kind the tick names; collects the
// frame numbers of those that parse.
void expectKind(GarbageKind kind, const std::vector<Bytes>& bad, uint16_t goodFrame,
                std::set<uint16_t>& numbers) {
    SCOPED_TRACE(garbageKindName(kind));
    ASSERT_FALSE(bad.empty());
    std::vector<WirePacket> parsed;
    for (const Bytes& d : bad) {
        if (auto p = parseWire(d)) {
            EXPECT_NE(p->frame, goodFrame) << "garbage that parses has a frame of its own";
            numbers.insert(p->frame);
            parsed.push_back(*p);
        }
    }
    switch (kind) {
    case GarbageKind::ShortHeader:
        ASSERT_EQ(bad.size(), 1u);
        EXPECT_LT(bad[0].size(), 16u);
        break;
    case GarbageKind::LengthMismatch: {
        ASSERT_EQ(bad.size(), 1u);
        ASSERT_GE(bad[0].size(), 16u);
        EXPECT_TRUE(parsed.empty());
        const size_t claimed = static_cast<size_t>(bad[0][10] << 8 | bad[0][11]);
        EXPECT_EQ(std::abs(static_cast<int>(claimed) - static_cast<int>(bad[0].size() - 16)), 1);
        EXPECT_EQ(bad[0][0] << 8 | bad[0][1], goodFrame) << "it poses as a packet of the frame";
        break;
    }
    case GarbageKind::ZeroK:
        ASSERT_EQ(parsed.size(), 1u);
        EXPECT_EQ(parsed[0].k, 0);
        break;
    case GarbageKind::TooManyPackets:
        ASSERT_EQ(parsed.size(), 1u);
        EXPECT_GT(parsed[0].k + parsed[0].m, 256);
        EXPECT_EQ(parsed[0].index, parsed[0].k + parsed[0].m - 1);
        break;
    case GarbageKind::PayloadOverShard:
        ASSERT_EQ(parsed.size(), 1u);
        EXPECT_GT(parsed[0].payload.size(), parsed[0].shard);
        EXPECT_GE(parsed[0].index, parsed[0].k);
        break;
    case GarbageKind::HugeFrameLength:
        ASSERT_EQ(parsed.size(), 1u);
        EXPECT_GT(parsed[0].frameLength, 1u << 30);
        break;
    case GarbageKind::DisagreeingHeaders:
        ASSERT_EQ(parsed.size(), 2u);
        EXPECT_EQ(parsed[0].frame, parsed[1].frame);
        EXPECT_NE(parsed[0].k, parsed[1].k);
        EXPECT_NE(parsed[0].m, parsed[1].m);
        EXPECT_NE(parsed[0].shard, parsed[1].shard);
        EXPECT_NE(parsed[0].frameLength, parsed[1].frameLength);
        break;
    case GarbageKind::EmptyNalUnits:
    case GarbageKind::ShortSlice: {
        ASSERT_EQ(parsed.size(), bad.size()) << "a well-formed frame";
        const auto nals = cutAtLongStartCodes(wirecheck::rebuildFrame(parsed).value());
        if (kind == GarbageKind::EmptyNalUnits) {
            EXPECT_GE(
                std::count_if(nals.begin(), nals.end(), [](const Bytes& n) { return n.empty(); }),
                2);
        } else {
            ASSERT_EQ(nals.size(), 1u);
            EXPECT_TRUE(isSliceNal(nals[0]));
            EXPECT_LT(nals[0].size(), 32u);
        }
        break;
    }
    }
}

TEST(Garbage, EveryKindIsWhatItClaimsAndTheGoodFramesStayWholeAndDecodable) {
    MediaOptions options;
    options.family = Family::Zoderiv;
    options.width = 320;
    options.height = 240;
    options.shardSize = 256; // several packets per frame, for garbage to sit among
    options.garbage = true;
    MediaStream stream(options);
    ASSERT_TRUE(stream.open());
    std::set<GarbageKind> seen;
    std::set<uint16_t> goodNumbers, garbageNumbers;
    wirecheck::Decoder decoder;
    for (int n = 0; n < 2 * garbageKindCount; ++n) {
        const MediaTick tick = stream.next();
        ASSERT_EQ(tick.garbageKinds.size(), 1u);
        goodNumbers.insert(tick.frameNumber);
        std::vector<WirePacket> good;
        std::vector<Bytes> bad;
        for (const Bytes& d : tick.datagrams) {
            auto p = parseWire(d);
            p && p->frame == tick.frameNumber ? good.push_back(*p) : bad.push_back(d);
        }
        expectKind(tick.garbageKinds[0], bad, tick.frameNumber, garbageNumbers);
        if (!garbageNeedsOwnFrame(tick.garbageKinds[0])) {
            EXPECT_TRUE(parseWire(tick.datagrams.front()) && parseWire(tick.datagrams.back()));
        }
        seen.insert(tick.garbageKinds[0]);
        ASSERT_EQ(wirecheck::rebuildFrame(good), tick.frame);
        EXPECT_EQ(decoder.decode(tick.frame).size(), 1u);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(garbageKindCount));
    EXPECT_EQ(decoder.errors, 0);
    for (uint16_t number : garbageNumbers) {
        EXPECT_EQ(goodNumbers.count(number), 0u);
    }
}

} // namespace
} // namespace carsim
