#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

#include "client/stream_stats_collector.h"
#include "media/fec/fec_recovery.h"
#include "tests/client/test_support.h"
#include "tests/media/fec/fec_test_support.h"

namespace fec_test {
namespace {

// The frame of the examples: k = 3, m = 1, shard size 1000, 2500 bytes.
SentFrame exampleFrame() {
    return packetizeFrame(3, 1, 1000, 500);
}

// Scenarios run with a live collector so that they can check what they counted.
class FecFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StreamStatsCollector::replaceCurrent(std::chrono::milliseconds(2)));
        StreamStatsCollector::current()->attachListener(&listener);
    }
    void TearDown() override { StreamStatsCollector::destroyCurrent(); }

    // Words 0 (direct) and 2 (repaired) after everything counted so far: the next report is
    // made after it, since reports are made and recorded under the collector's lock.
    std::pair<uint32_t, uint32_t> directAndRepaired() {
        EXPECT_TRUE(listener.waitForReports(listener.reportsCopy().size() + 1));
        const MdvStreamStats counts = listener.reportsCopy().back();
        return {counts.words[0], counts.words[2]};
    }

    client_test::RecordingListener listener;
};

TEST_F(FecFrameTest, DataPacketsCompleteTheFrameInAnyOrderAndLaterParityChangesNothing) {
    const SentFrame sent = exampleFrame();
    std::vector<int> order = {0, 1, 2};
    do {
        FecFrame frame = frameFor(sent);
        deliverPackets(frame, sent, {order[0], order[1]});
        EXPECT_FALSE(frame.complete());
        EXPECT_EQ(addPacket(frame, packetAt(sent, order[2])), AddResult::stored);
        EXPECT_EQ(frame.data, sent.bytes);
        EXPECT_EQ(addPacket(frame, packetAt(sent, 3)), AddResult::stored);
        EXPECT_EQ(frame.data, sent.bytes);
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_EQ(directAndRepaired(), std::make_pair(6u, 0u));
}

TEST_F(FecFrameTest, LostDataPacketIsRepairedWhenTheLastParityArrives) {
    const SentFrame sent = exampleFrame();
    FecFrame frame = frameFor(sent);
    deliverPackets(frame, sent, {0, 2});
    EXPECT_FALSE(frame.complete());
    EXPECT_EQ(addPacket(frame, packetAt(sent, 3)), AddResult::stored);
    EXPECT_EQ(frame.data, sent.bytes);
    EXPECT_EQ(directAndRepaired(), std::make_pair(0u, 1u));
}

TEST_F(FecFrameTest, IdenticalDuplicatesAreIgnoredWhileTheFrameGoesOn) {
    const SentFrame sent = exampleFrame();
    FecFrame frame = frameFor(sent);
    using enum AddResult;
    EXPECT_EQ(deliverPackets(frame, sent, {0, 0, 3, 3, 2}),
              std::vector<AddResult>({stored, duplicateIgnored, stored, duplicateIgnored, stored}));
    // A copy of the packet of the highest index is no new arrival: the lost packet waits for
    // the receiver's pass. A complete frame is left alone by both.
    EXPECT_FALSE(frame.complete());
    EXPECT_TRUE(recoverFrame(frame));
    EXPECT_FALSE(recoverFrame(frame));
    EXPECT_EQ(addPacket(frame, packetAt(sent, 2)), duplicateIgnored);
    EXPECT_EQ(frame.data, sent.bytes);
    EXPECT_EQ(directAndRepaired(), std::make_pair(0u, 1u));
}

TEST(FecFrame, RefusesPacketsThatDoNotBelongInIt) {
    const SentFrame sent = exampleFrame();
    auto changed = [&sent](int index, const std::function<void(FecPacket&)>& change) {
        return [&sent, index, change] {
            std::unique_ptr<FecPacket> packet = packetAt(sent, index);
            change(*packet);
            return packet;
        };
    };
    // The frame is number 7 with k = 3, m = 1, shard size 1000 and 2500 bytes.
    auto datagram = [](Datagram d) { return [d] { return parse(d); }; };
    const struct {
        const char* name;
        std::function<std::unique_ptr<FecPacket>()> make;
    } cases[] = {
        {"index k + m", datagram(makeDatagram(7, 4, 3, 1, 1000, 1000, 2500, 1000))},
        {"other bytes for a filled slot", changed(1, [](FecPacket& p) { p.payload[9] ^= 1; })},
        {"other frame number", datagram(makeDatagram(8, 0, 3, 1, 1000, 1000, 2500, 1000))},
        {"other m", datagram(makeDatagram(7, 0, 3, 2, 1000, 1000, 2500, 1000))},
        {"other k and length", datagram(makeDatagram(7, 0, 4, 1, 1000, 1000, 3500, 1000))},
        {"other shard size", datagram(makeDatagram(7, 0, 3, 1, 1100, 1100, 2500, 1100))},
        {"other frame length", datagram(makeDatagram(7, 0, 3, 1, 1000, 1000, 2600, 1000))},
        {"no packet", [] { return std::unique_ptr<FecPacket>(); }},
        {"made by hand, overlong", changed(3,
                                           [](FecPacket& p) {
                                               p.payload.resize(4000);
                                               p.payloadLength = 4000;
                                           })},
        {"made by hand, length field lies", changed(0, [](FecPacket& p) { --p.payloadLength; })},
    };
    for (const auto& c : cases) {
        FecFrame frame = frameFor(sent);
        deliverPackets(frame, sent, {1, 2});
        EXPECT_EQ(addPacket(frame, c.make()), AddResult::refused) << c.name;
        EXPECT_EQ(frame.dataReceived + frame.parityReceived, 2) << c.name;
    }
}

} // namespace
} // namespace fec_test
