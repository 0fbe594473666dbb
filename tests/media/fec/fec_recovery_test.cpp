#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "media/fec/decode_plan.h"
#include "media/fec/decode_plan_cache.h"
#include "media/fec/fec_recovery.h"
#include "tests/media/fec/fec_test_support.h"

namespace fec_test {
namespace {

struct Shape {
    int k;
    int m;
    int shard;
    int shortBy; // the last data packet is this much shorter than a shard
};

// Calls visit with every set of at most maxLost of the indices 0 .. count - 1, ascending.
void forEachLossPattern(int count, int maxLost, const std::function<void(std::vector<int>&)>& visit,
                        std::vector<int>& lost, int from = 0) {
    visit(lost);
    if (static_cast<int>(lost.size()) == maxLost) {
        return;
    }
    for (int i = from; i < count; ++i) {
        lost.push_back(i);
        forEachLossPattern(count, maxLost, visit, lost, i + 1);
        lost.pop_back();
    }
}

std::string describe(const Shape& shape, const std::vector<int>& lost) {
    std::string text = "k=" + std::to_string(shape.k) + " m=" + std::to_string(shape.m) + " lost";
    for (int index : lost) {
        text += " " + std::to_string(index);
    }
    return text;
}

// Feeds the frame's surviving packets in order and completes it the way the receiver does:
// at the packet of the highest index, or else in its recovery pass. The error text, if any.
std::string receiveWithLosses(const Shape& shape, const SentFrame& sent,
                              const std::vector<int>& lost) {
    FecFrame frame = frameFor(sent);
    for (AddResult result : deliverPackets(frame, sent, dropPackets(sent, lost))) {
        if (result != AddResult::stored) {
            return "a packet was not stored";
        }
    }
    const bool lastArrived = lost.empty() || lost.back() != shape.k + shape.m - 1;
    const bool dataLost = !lost.empty() && lost.front() < shape.k;
    if (!frame.complete()) {
        if (!dataLost || lastArrived) {
            return "not complete after its last packet";
        }
        if (!recoverFrame(frame)) {
            return "the recovery pass failed";
        }
    }
    return frame.data == sent.bytes ? "" : "the frame's bytes differ";
}

TEST(FecRecovery, EveryPatternOfUpToMLostPacketsRebuildsTheFrameExactly) {
    const Shape shapes[] = {
        {1, 1, 16, 5}, {3, 1, 50, 7}, {8, 2, 64, 0}, {20, 4, 48, 13}, {2, 3, 32, 1}, {5, 0, 16, 3},
    };
    for (const Shape& shape : shapes) {
        const SentFrame sent = packetizeFrameOf(shape.k, shape.m, shape.shard, shape.shortBy);
        ASSERT_EQ(sent.k, shape.k);
        int patterns = 0;
        std::string firstFailure;
        std::vector<int> lost;
        forEachLossPattern(
            shape.k + shape.m, shape.m,
            [&](std::vector<int>& pattern) {
                ++patterns;
                const std::string error = receiveWithLosses(shape, sent, pattern);
                if (!error.empty() && firstFailure.empty()) {
                    firstFailure = describe(shape, pattern) + ": " + error;
                }
            },
            lost);
        EXPECT_EQ(firstFailure, "");
        EXPECT_GT(patterns, shape.m == 0 ? 0 : shape.k + shape.m);
    }
}

TEST(FecRecovery, MoreLossesThanParityLeaveTheFrameIncomplete) {
    const SentFrame sent = packetizeFrameOf(8, 2, 64);
    for (const std::vector<int>& lost : {std::vector<int>{0, 1, 2}, {0, 8, 9}, {7, 8, 5}}) {
        FecFrame frame = frameFor(sent);
        deliverPackets(frame, sent, dropPackets(sent, lost));
        EXPECT_FALSE(recoverFrame(frame));
        EXPECT_FALSE(frame.complete());
    }
}

TEST(FecRecovery, FramesChangedByHandAreLeftAlone) {
    // k = 4, m = 2, shard size 100, 370 bytes; the short last data packet and the last parity
    // packet are lost, so recovery has exactly enough until a change spoils it.
    const SentFrame sent = packetizeFrameOf(4, 2, 100, 30);
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
        [](FecFrame& f) { f.shardSize = 20; },
        [](FecFrame& f) { f.frameLength = 0xFFFFFFFF; }, // every stored payload still fits
        [](FecFrame& f) { f.k = 40; },
        [](FecFrame& f) { f.m = 200; },
        [](FecFrame& f) { f.slots.resize(3); },
        [](FecFrame& f) { f.slots.resize(300); },
        [](FecFrame& f) { f.slots[4].reset(); }, // the counters claim a packet that is gone
    };
    for (size_t change = 0; change < std::size(changes); ++change) {
        FecFrame frame = frameFor(sent);
        deliverPackets(frame, sent, {0, 1, 2, 4});
        changes[change](frame);
        const bool unchanged = change == 0;
        EXPECT_EQ(recoverFrame(frame), unchanged) << "change " << change;
        EXPECT_EQ(frame.complete(), unchanged) << "change " << change;
    }
}

TEST(FecDecodePlan, PatternsThatAreNoErasureOfTheCodeGetNoPlan) {
    struct Case {
        const char* name;
        int k;
        int m;
        std::vector<uint16_t> lost;
        std::vector<uint16_t> parity;
    };
    const Case cases[] = {
        {"more lost than parity used", 4, 2, {0, 1}, {4}},
        {"more lost than parity exists", 4, 1, {0, 1}, {4, 5}},
        {"lost index is parity", 4, 2, {4}, {5}},
        {"used parity is data", 4, 2, {0}, {3}},
        {"used parity beyond the frame", 4, 2, {0}, {6}},
        {"lost data not ascending", 4, 2, {2, 1}, {4, 5}},
        {"repeated parity", 4, 2, {1, 2}, {4, 4}},
        {"k + m above 256", 250, 7, {0}, {250}},
        {"k = 0", 0, 2, {}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(buildDecodePlan(c.k, c.m, c.lost, c.parity), nullptr) << c.name;
    }
    EXPECT_NE(buildDecodePlan(255, 1, {254}, {255}), nullptr);
}

TEST(FecDecodePlanCache, KeepsItsCapacityAndDropsTheLeastRecentlyUsed) {
    DecodePlanCache cache(2);
    int builds = 0;
    auto builder = [&builds](int k) {
        return [&builds, k] {
            ++builds;
            return buildDecodePlan(k, 1, {0}, {static_cast<uint16_t>(k)});
        };
    };
    const std::shared_ptr<const DecodePlan> first = cache.find("a", builder(2));
    EXPECT_EQ(cache.find("a", builder(2)), first);
    cache.find("b", builder(3));
    EXPECT_EQ(cache.find("a", builder(2)), first) << "a is now the most recent";
    cache.find("c", builder(4));
    EXPECT_EQ(builds, 3);
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache.find("a", builder(2)), first);
    cache.find("b", builder(3));
    EXPECT_EQ(builds, 4) << "b was the least recently used and had to go";

    EXPECT_EQ(cache.find("none", [] { return std::shared_ptr<const DecodePlan>(); }), nullptr);
    EXPECT_EQ(cache.size(), 2u);
}

TEST(FecDecodePlanCache, PlanEvictedWhileHeldStaysWhole) {
    DecodePlanCache cache(1);
    const std::shared_ptr<const DecodePlan> held = cache.find("held", [] {
        return buildDecodePlan(8, 2, {1, 5}, {8, 9});
    });
    ASSERT_TRUE(held);
    cache.find("other", [] { return buildDecodePlan(8, 2, {2}, {8}); });
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_EQ(held->outputs, (std::vector<uint16_t>{1, 5}));
    EXPECT_EQ(held->coefficients.size(), 16u);
}

TEST(FecRecovery, ReceiversOnSeveralThreadsRepairTheirOwnFramesExactly) {
    // Different shapes per thread, so the shared plan store sees misses, hits and evictions
    // from all of them at once.
    const Shape shapes[] = {{8, 2, 64, 3}, {12, 3, 80, 0}, {20, 4, 48, 13}, {6, 6, 32, 9}};
    std::vector<std::string> failures(std::size(shapes));
    std::vector<std::thread> threads;
    for (size_t t = 0; t < std::size(shapes); ++t) {
        threads.emplace_back([&, t] {
            const Shape& shape = shapes[t];
            const SentFrame sent = packetizeFrameOf(shape.k, shape.m, shape.shard, shape.shortBy);
            for (int round = 0; round < 40 && failures[t].empty(); ++round) {
                std::vector<int> lost;
                for (int i = 0; i < shape.m; ++i) {
                    lost.push_back((round * 7 + i * (shape.k + 1) / shape.m) % (shape.k + shape.m));
                }
                std::sort(lost.begin(), lost.end());
                lost.erase(std::unique(lost.begin(), lost.end()), lost.end());
                failures[t] = receiveWithLosses(shape, sent, lost);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (size_t t = 0; t < failures.size(); ++t) {
        EXPECT_EQ(failures[t], "") << "thread " << t;
    }
}

} // namespace
} // namespace fec_test
