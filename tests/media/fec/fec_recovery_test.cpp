#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "media/fec/decode_plan_cache.h"
#include "media/fec/fec_recovery.h"
#include "tests/media/fec/fec_test_support.h"

namespace fec_test {
namespace {

struct Shape {
    int k, m, shard, shortBy;
};

// Every set of at most maxLost of the indices 0 .. count - 1, each ascending.
void forEachLossPattern(int count, int maxLost, const std::function<void(std::vector<int>&)>& visit,
                        std::vector<int>& lost, int from = 0) {
    visit(lost);
    for (int i = from; i < count && static_cast<int>(lost.size()) < maxLost; ++i) {
        lost.push_back(i);
        forEachLossPattern(count, maxLost, visit, lost, i + 1);
        lost.pop_back();
    }
}

// Feeds the surviving packets in order and completes the frame as the receiver does: at the
// packet of the highest index, or else in its recovery pass. The fault found, if any.
std::string receiveWithLosses(const SentFrame& sent, const std::vector<int>& lost) {
    FecFrame frame = frameFor(sent);
    for (AddResult result : deliverPackets(frame, sent, dropPackets(sent, lost))) {
        if (result != AddResult::stored) {
            return "a packet was not stored";
        }
    }
    const bool lastLost = !lost.empty() && lost.back() == sent.k + sent.m - 1;
    const bool dataLost = !lost.empty() && lost.front() < sent.k;
    if (frame.complete() == (dataLost && lastLost)) {
        return frame.complete() ? "repaired before its last packet" : "incomplete after it";
    }
    if (!frame.complete() && !recoverFrame(frame)) {
        return "the recovery pass failed";
    }
    return frame.data == sent.bytes ? "" : "the frame's bytes differ";
}

TEST(FecRecovery, EveryPatternOfUpToMLostPacketsRebuildsTheFrameExactly) {
    const Shape shapes[] = {{1, 1, 16, 5},   {3, 1, 50, 7}, {8, 2, 64, 0},
                            {20, 4, 48, 13}, {2, 3, 32, 1}, {5, 0, 16, 3}};
    for (const Shape& shape : shapes) {
        const SentFrame sent = packetizeFrame(shape.k, shape.m, shape.shard, shape.shortBy);
        ASSERT_EQ(sent.datagrams.size(), static_cast<size_t>(shape.k + shape.m));
        std::string firstFault;
        std::vector<int> lost;
        forEachLossPattern(
            shape.k + shape.m, shape.m,
            [&](std::vector<int>& pattern) {
                const std::string fault = receiveWithLosses(sent, pattern);
                if (!fault.empty() && firstFault.empty()) {
                    firstFault = "k=" + std::to_string(shape.k) + " lost";
                    for (int index : pattern) {
                        firstFault += " " + std::to_string(index);
                    }
                    firstFault += ": " + fault;
                }
            },
            lost);
        EXPECT_EQ(firstFault, "");
    }
}

TEST(FecRecovery, MoreLossesThanParityLeaveTheFrameIncomplete) {
    const SentFrame sent = packetizeFrame(8, 2, 64);
    for (const std::vector<int>& lost : {std::vector<int>{0, 1, 2}, {0, 8, 9}, {5, 7, 8}}) {
        FecFrame frame = frameFor(sent);
        deliverPackets(frame, sent, dropPackets(sent, lost));
        EXPECT_FALSE(recoverFrame(frame));
        EXPECT_FALSE(frame.complete());
    }
}

TEST(FecRecovery, FramesChangedByHandAreLeftAlone) {
    // k = 4, m = 2, shard size 100, 370 bytes; the short last data packet and the last parity
    // packet are lost, so recovery has exactly enough until a change spoils it.
    const SentFrame sent = packetizeFrame(4, 2, 100, 30);
    const std::function<void(FecFrame&)> changes[] = {
        [](FecFrame&) {},
        [](FecFrame& f) { f.slots[4]->payload.resize(5000, 1); },
        [](FecFrame& f) { f.slots[2]->payload.resize(10); },
        [](FecFrame& f) { f.slots[0]->payload.resize(99); },
        [&sent](FecFrame& f) { // the short last data packet, grown to a full shard
            f.slots[3] = packetAt(sent, 3);
            f.slots[3]->payload.resize(100);
        },
        [](FecFrame& f) { f.shardSize = 4000; },
        [](FecFrame& f) { f.frameLength = 0xFFFFFFFF; }, // every stored payload still fits
        [](FecFrame& f) { f.k = 40; },
        [](FecFrame& f) { f.slots.resize(3); },
        [](FecFrame& f) { f.slots[4].reset(); }, // the counters claim a packet that is gone
    };
    for (size_t change = 0; change < std::size(changes); ++change) {
        FecFrame frame = frameFor(sent);
        deliverPackets(frame, sent, {0, 1, 2, 4});
        changes[change](frame);
        EXPECT_EQ(recoverFrame(frame), change == 0) << "change " << change;
        EXPECT_EQ(frame.complete(), change == 0) << "change " << change;
    }
}

TEST(FecDecodePlanCache, KeepsItsCapacityDropsTheLeastRecentlyUsedAndSparesHeldPlans) {
    DecodePlanCache cache(2);
    int builds = 0;
    auto builder = [&builds](int k) {
        return [&builds, k] {
            ++builds;
            return buildDecodePlan(k, 2, {0, 1}, {static_cast<uint16_t>(k), uint16_t(k + 1)});
        };
    };
    const std::shared_ptr<const DecodePlan> a = cache.find("a", builder(2));
    cache.find("b", builder(3));
    EXPECT_EQ(cache.find("a", builder(2)), a) << "found again, and now the most recent";
    cache.find("c", builder(4));
    EXPECT_EQ(cache.find("a", builder(2)), a);
    EXPECT_EQ(builds, 3);
    cache.find("b", builder(3));
    EXPECT_EQ(builds, 4) << "b was the least recently used and had to go";
    cache.find("d", builder(5));
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache.find("none", [] { return std::shared_ptr<const DecodePlan>(); }), nullptr);
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(a->coefficients.size(), 4u) << "a left the store but lives on with its holder";
}

TEST(FecRecovery, ReceiversOnSeveralThreadsRepairTheirOwnFramesExactly) {
    // Different shapes per thread, so the shared plan store sees misses, hits and evictions
    // from all of them at once. The frames are made first: the simulator's encoder is not meant
    // to start up on several threads at once.
    const Shape shapes[] = {{8, 2, 64, 3}, {12, 3, 80, 0}, {20, 4, 48, 13}, {6, 6, 32, 9}};
    std::vector<SentFrame> frames;
    for (const Shape& s : shapes) {
        frames.push_back(packetizeFrame(s.k, s.m, s.shard, s.shortBy));
    }
    std::vector<std::string> faults(std::size(shapes));
    std::vector<std::thread> threads;
    for (size_t t = 0; t < std::size(shapes); ++t) {
        threads.emplace_back([&, t] {
            const Shape& s = shapes[t];
            for (int round = 0; round < 40 && faults[t].empty(); ++round) {
                std::vector<int> lost;
                for (int i = 0; i < s.m; ++i) {
                    lost.push_back((round * 7 + i * (s.k + 1) / s.m) % (s.k + s.m));
                }
                std::sort(lost.begin(), lost.end());
                lost.erase(std::unique(lost.begin(), lost.end()), lost.end());
                faults[t] = receiveWithLosses(frames[t], lost);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(faults, std::vector<std::string>(std::size(shapes)));
}

} // namespace
} // namespace fec_test
