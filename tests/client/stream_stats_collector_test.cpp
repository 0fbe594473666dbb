#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/stream_stats_collector.h"
#include "tests/client/test_support.h"

namespace client_test {
namespace {

constexpr auto fastPeriod = std::chrono::milliseconds(2);

// Every counter operation once; the event counters of words 0 to 4 in order.
void (*const eventCounters[])() = {
    stream_stats::countDirectBlock, stream_stats::countKeyFrameRequest,
    stream_stats::countRepairedBlock, stream_stats::countLostFrame, stream_stats::countLatePacket};
void countEverything() {
    for (const auto count : eventCounters) {
        count();
    }
    stream_stats::addReceivedBytes(1400);
    stream_stats::addDeliveredBytes(100);
    stream_stats::addFrameShape(8, 2);
}

class StreamStatsCollectorTest : public ::testing::Test {
protected:
    void TearDown() override { StreamStatsCollector::destroyCurrent(); }
    RecordingListener listener;
};

TEST_F(StreamStatsCollectorTest, EventWordsAccumulateWhileByteWordsAndParityArePerPeriod) {
    ASSERT_TRUE(StreamStatsCollector::replaceCurrent(fastPeriod));
    StreamStatsCollector::current()->attachListener(&listener);
    for (size_t word = 0; word < 5; ++word) {
        for (size_t n = 0; n <= word; ++n) {
            eventCounters[word]();
        }
    }
    stream_stats::addFrameShape(0, 5); // parity without data packets: no finite share
    StreamStatsCollector::current()->addToCounter(7, 99); // computed, never counted
    StreamStatsCollector::current()->addToCounter(8, 99);
    // The bytes last: the report that shows them has taken in everything above.
    stream_stats::addReceivedBytes(1500);
    stream_stats::addDeliveredBytes(700);
    ASSERT_TRUE(listener.waitForReports([&](const Reports& reports) {
        return reports.back().words[4] == 5 && sumOfWord(reports, 5) == 1500 &&
               sumOfWord(reports, 6) == 700;
    }));
    stream_stats::addFrameShape(3, 2); // 66.7 -> 66
    ASSERT_TRUE(listener.waitForReports([](const Reports& r) { return sumOfWord(r, 7) != 0; }));
    ASSERT_TRUE(listener.waitForReports(listener.reportsCopy().size() + 1));

    const auto reports = listener.reportsCopy();
    for (size_t word = 0; word < 5; ++word) {
        EXPECT_EQ(reports.back().words[word], word + 1) << "word " << word;
    }
    EXPECT_EQ(reports.back().words[5], 0u);
    EXPECT_EQ(reports.back().words[6], 0u);
    EXPECT_EQ(sumOfWord(reports, 5), 1500u);
    EXPECT_EQ(sumOfWord(reports, 6), 700u);
    EXPECT_EQ(sumOfWord(reports, 7), 66u) << "truncated, and 0 in every period with tallyA 0";
}

TEST_F(StreamStatsCollectorTest, ListenerAnsweringTrueOrAResetClearsEveryCounter) {
    std::atomic<bool> answered{false};
    listener.answerStatistics = [&](const MdvStreamStats& stats) {
        return stats.words[0] == 3 && stats.words[2] == 4 && !answered.exchange(true);
    };
    StreamStatsCollector collector(fastPeriod);
    collector.attachListener(&listener);
    collector.addToCounter(0, 3);
    collector.addToCounter(2, 4);
    ASSERT_TRUE(waitUntil([&] { return answered.load(); }));
    ASSERT_TRUE(listener.waitForReports(listener.reportsCopy().size() + 2));
    EXPECT_EQ(listener.reportsCopy().back().words, MdvStreamStats{}.words);

    collector.addToCounter(1, 5);
    ASSERT_TRUE(listener.waitForReports([](const Reports& r) { return r.back().words[1] == 5; }));
    collector.reset();
    ASSERT_TRUE(listener.waitForReports(listener.reportsCopy().size() + 2));
    EXPECT_EQ(listener.reportsCopy().back().words[1], 0u);
}

TEST_F(StreamStatsCollectorTest, DetachClearsOnlyItsOwnListenerAndAThrowingOneGoesOn) {
    RecordingListener second;
    second.throwFromStatistics = true;
    StreamStatsCollector collector(fastPeriod);
    collector.attachListener(&listener);
    ASSERT_TRUE(listener.waitForReports(1));
    collector.attachListener(&second);
    collector.detachListener(&listener); // no longer the listener's: second stays
    const size_t firstCount = listener.reportsCopy().size();
    ASSERT_TRUE(second.waitForReports(3));
    collector.detachListener(&second);
    EXPECT_EQ(listener.reportsCopy().size(), firstCount);
}

TEST_F(StreamStatsCollectorTest, ReplacementWhileOtherThreadsFeedTheOldOne) {
    // Would hang the test for an hour if the reporter's wait were not woken.
    StreamStatsCollector{std::chrono::hours(1)};
    countEverything(); // no collector: no-ops
    ASSERT_TRUE(StreamStatsCollector::replaceCurrent(fastPeriod));
    std::atomic<bool> feeding{true};
    std::vector<std::thread> feeders;
    for (int i = 0; i < 3; ++i) {
        feeders.emplace_back([&] {
            while (feeding) {
                countEverything();
                if (const auto held = StreamStatsCollector::current()) {
                    // Holding one across a replacement keeps it usable.
                    held->addToCounter(6, 100);
                }
            }
        });
    }
    for (int round = 0; round < 50; ++round) {
        ASSERT_TRUE(StreamStatsCollector::replaceCurrent(fastPeriod));
    }
    StreamStatsCollector::destroyCurrent();
    feeding = false;
    for (auto& feeder : feeders) {
        feeder.join();
    }
    StreamStatsCollector::destroyCurrent(); // twice is fine
    countEverything();
    EXPECT_EQ(StreamStatsCollector::current(), nullptr);
}

} // namespace
} // namespace client_test
