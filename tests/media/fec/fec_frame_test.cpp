#include <algorithm>
#include <chrono>

#include <gtest/gtest.h>

#include "client/stream_stats_collector.h"
#include "media/fec/fec_frame.h"
#include "media/fec/fec_recovery.h"
#include "tests/client/test_support.h"
#include "tests/media/fec/fec_test_support.h"

namespace fec_test {
namespace {

using client_test::RecordingListener;
using client_test::Reports;

constexpr auto fastPeriod = std::chrono::milliseconds(2);
constexpr int directWord = 0;
constexpr int repairedWord = 2;

// The frame of the examples: k = 3, m = 1, shard size 1000, 2500 bytes.
SentFrame exampleFrame() {
    return packetizeFrameOf(3, 1, 1000, 500);
}

// Scenarios run with a live collector so that they can check what they counted.
class FecFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StreamStatsCollector::replaceCurrent(fastPeriod));
        StreamStatsCollector::current()->attachListener(&listener);
    }
    void TearDown() override { StreamStatsCollector::destroyCurrent(); }

    // The event counters as they stand after everything counted so far: the next report is
    // taken after it (reports are made and recorded under the collector's lock).
    MdvStreamStats countsNow() {
        const size_t seen = listener.reportsCopy().size();
        EXPECT_TRUE(listener.waitForReports(seen + 1));
        return listener.reportsCopy().back();
    }

    RecordingListener listener;
};

TEST_F(FecFrameTest, DataPacketsCompleteTheFrameDirectlyInAnyOrder) {
    const SentFrame sent = exampleFrame();
    std::vector<int> order = {0, 1, 2};
    int frames = 0;
    do {
        FecFrame frame = frameFor(sent);
        const std::vector<AddResult> results = deliverPackets(frame, sent, {order[0], order[1]});
        EXPECT_FALSE(frame.complete());
        EXPECT_EQ(addPacket(frame, packetAt(sent, order[2])), AddResult::stored);
        EXPECT_EQ(results, std::vector<AddResult>(2, AddResult::stored));
        ASSERT_TRUE(frame.complete());
        EXPECT_EQ(frame.data, sent.bytes);
        EXPECT_EQ(frame.data.size(), 2500u);
        ++frames;
    } while (std::next_permutation(order.begin(), order.end()));

    const MdvStreamStats counts = countsNow();
    EXPECT_EQ(counts.words[directWord], static_cast<uint32_t>(frames));
    EXPECT_EQ(counts.words[repairedWord], 0u);
}

TEST_F(FecFrameTest, LostDataPacketIsRepairedWhenTheLastParityArrives) {
    const SentFrame sent = exampleFrame();
    FecFrame frame = frameFor(sent);
    deliverPackets(frame, sent, {0, 2});
    EXPECT_FALSE(frame.complete());
    EXPECT_EQ(addPacket(frame, packetAt(sent, 3)), AddResult::stored);
    ASSERT_TRUE(frame.complete());
    EXPECT_EQ(frame.data, sent.bytes);

    const MdvStreamStats counts = countsNow();
    EXPECT_EQ(counts.words[repairedWord], 1u);
    EXPECT_EQ(counts.words[directWord], 0u);
}

TEST_F(FecFrameTest, FrameMissingItsLastParityWaitsForTheReceiversRecoveryPass) {
    const SentFrame sent = packetizeFrameOf(4, 2, 100, 30);
    FecFrame frame = frameFor(sent);
    deliverPackets(frame, sent, dropPackets(sent, {1, 5}));
    EXPECT_FALSE(frame.complete()) << "only the packet of the highest index starts recovery";
    EXPECT_TRUE(recoverFrame(frame));
    EXPECT_EQ(frame.data, sent.bytes);
    EXPECT_FALSE(recoverFrame(frame)) << "a complete frame is left alone";
    EXPECT_EQ(frame.data, sent.bytes);
    EXPECT_EQ(countsNow().words[repairedWord], 1u);
}

TEST_F(FecFrameTest, ParityAfterCompletionIsStoredAndChangesNothing) {
    const SentFrame sent = exampleFrame();
    FecFrame frame = frameFor(sent);
    deliverPackets(frame, sent, {0, 1, 2});
    ASSERT_TRUE(frame.complete());
    EXPECT_EQ(addPacket(frame, packetAt(sent, 3)), AddResult::stored);
    EXPECT_EQ(frame.parityReceived, 1);
    EXPECT_EQ(frame.data, sent.bytes);

    const MdvStreamStats counts = countsNow();
    EXPECT_EQ(counts.words[directWord], 1u);
    EXPECT_EQ(counts.words[repairedWord], 0u);
}

TEST_F(FecFrameTest, IdenticalDuplicatesAreIgnoredWhileTheFrameGoesOn) {
    const SentFrame sent = exampleFrame();
    FecFrame frame = frameFor(sent);
    const std::vector<AddResult> results = deliverPackets(frame, sent, {0, 0, 3, 3, 2});
    EXPECT_EQ(results, (std::vector<AddResult>{AddResult::stored, AddResult::duplicateIgnored,
                                               AddResult::stored, AddResult::duplicateIgnored,
                                               AddResult::stored}));
    EXPECT_EQ(frame.dataReceived, 2);
    EXPECT_EQ(frame.parityReceived, 1);
    // A copy of the packet of the highest index is no new arrival: the lost packet waits for
    // the receiver's pass, and a copy after completion is ignored as well.
    EXPECT_FALSE(frame.complete());
    EXPECT_TRUE(recoverFrame(frame));
    EXPECT_EQ(addPacket(frame, packetAt(sent, 2)), AddResult::duplicateIgnored);
    EXPECT_EQ(frame.data, sent.bytes);
    EXPECT_EQ(countsNow().words[repairedWord], 1u);
}

TEST(FecFrame, DifferentPacketForAFilledSlotIsRefused) {
    const SentFrame sent = exampleFrame();
    for (int index : {0, 2, 3}) {
        FecFrame frame = frameFor(sent);
        deliverPackets(frame, sent, {index});
        std::unique_ptr<FecPacket> changed = packetAt(sent, index);
        changed->payload.back() ^= 1;
        EXPECT_EQ(addPacket(frame, std::move(changed)), AddResult::refused) << "index " << index;
    }
}

TEST(FecFrame, IndicesBeyondTheFrameAreRefused) {
    const SentFrame sent = exampleFrame();
    for (uint16_t index : {4, 5, 255, 65535}) {
        FecFrame frame = frameFor(sent);
        EXPECT_EQ(addPacket(frame, parse(makeDatagram(7, index, 3, 1, 1000, 1000, 2500, 1000))),
                  AddResult::refused)
            << "index " << index;
        EXPECT_EQ(frame.dataReceived + frame.parityReceived, 0);
    }
}

TEST(FecFrame, PacketDisagreeingWithTheFramesShapeIsRefused) {
    // The frame is number 7 with k = 3, m = 1, shard size 1000 and 2500 bytes; each packet is
    // well formed on its own and differs in one respect.
    struct Case {
        const char* name;
        Datagram datagram;
    };
    const Case cases[] = {
        {"frame number", makeDatagram(8, 0, 3, 1, 1000, 1000, 2500, 1000)},
        {"m", makeDatagram(7, 0, 3, 2, 1000, 1000, 2500, 1000)},
        {"k and with it the frame length", makeDatagram(7, 0, 4, 1, 1000, 1000, 3500, 1000)},
        {"shard size", makeDatagram(7, 0, 3, 1, 1100, 1100, 2500, 1100)},
        {"frame length", makeDatagram(7, 0, 3, 1, 1000, 1000, 2600, 1000)},
    };
    const SentFrame sent = exampleFrame();
    for (const Case& c : cases) {
        FecFrame frame = frameFor(sent);
        deliverPackets(frame, sent, {1, 2});
        std::unique_ptr<FecPacket> packet = parse(c.datagram);
        ASSERT_TRUE(packet) << c.name;
        EXPECT_EQ(addPacket(frame, std::move(packet)), AddResult::refused) << c.name;
        EXPECT_EQ(frame.dataReceived, 2) << c.name;
    }
}

TEST(FecFrame, PacketsNoDatagramCouldCarryAreRefused) {
    const SentFrame sent = exampleFrame();
    FecFrame frame = frameFor(sent);
    EXPECT_EQ(addPacket(frame, nullptr), AddResult::refused);
    std::unique_ptr<FecPacket> overlong = packetAt(sent, 3);
    overlong->payload.resize(4000);
    overlong->payloadLength = 4000;
    EXPECT_EQ(addPacket(frame, std::move(overlong)), AddResult::refused);
    std::unique_ptr<FecPacket> lying = packetAt(sent, 0);
    lying->payloadLength = 999;
    EXPECT_EQ(addPacket(frame, std::move(lying)), AddResult::refused);
    EXPECT_EQ(frame.dataReceived + frame.parityReceived, 0);
}

TEST(FecFrame, FrameOfImpossibleShapeHoldsNoPackets) {
    const FecFrame shapes[] = {
        FecFrame(1, 0, 1, 1000, 0),        FecFrame(1, 200, 57, 16, 3200),
        FecFrame(1, 3, 1, 0, 0),           FecFrame(1, 3, -1, 1000, 2500),
        FecFrame(1, 3, 1, 1000, 1u << 31), FecFrame(1, -5, 1, 1000, 2500),
    };
    for (const FecFrame& frame : shapes) {
        EXPECT_FALSE(frame.shapeIsValid()) << frame.k << " " << frame.m << " " << frame.shardSize;
        EXPECT_TRUE(frame.slots.empty());
    }
}

} // namespace
} // namespace fec_test
