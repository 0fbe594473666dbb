#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/stream_stats_collector.h"
#include "tests/client/test_support.h"

namespace client_test {
namespace {

constexpr auto fastPeriod = std::chrono::milliseconds(2);

uint32_t sumOfWord(const std::vector<MdvStreamStats>& reports, size_t word) {
    uint32_t sum = 0;
    for (const auto& report : reports) {
        sum += report.words[word];
    }
    return sum;
}

TEST(StreamStatsCollectorTest, EventWordsAccumulateWhileByteWordsArePerPeriod) {
    RecordingListener listener;
    StreamStatsCollector collector(fastPeriod);
    collector.attachListener(&listener);
    for (int word = 0; word <= 4; ++word) {
        collector.addToCounter(word, static_cast<uint32_t>(10 + word));
    }
    collector.addToCounter(5, 1500);
    collector.addToCounter(6, 700);
    collector.addToCounter(7, 99); // computed, never counted
    collector.addToCounter(8, 99);

    size_t seen = 0;
    ASSERT_TRUE(listener.waitForReports([&](const std::vector<MdvStreamStats>& reports) {
        const auto& last = reports.back();
        seen = reports.size();
        return last.words[0] == 10 && last.words[4] == 14 && sumOfWord(reports, 5) == 1500 &&
               sumOfWord(reports, 6) == 700;
    }));
    ASSERT_TRUE(listener.waitForReports(seen + 2));
    const auto reports = listener.reportsCopy();
    const auto& last = reports.back();
    for (size_t word = 0; word <= 4; ++word) {
        EXPECT_EQ(last.words[word], 10 + word) << "word " << word;
    }
    EXPECT_EQ(last.words[5], 0u);
    EXPECT_EQ(last.words[6], 0u);
    EXPECT_EQ(sumOfWord(reports, 5), 1500u);
    EXPECT_EQ(sumOfWord(reports, 6), 700u);
    EXPECT_EQ(sumOfWord(reports, 7), 0u);
    collector.attachListener(nullptr);
}

TEST(StreamStatsCollectorTest, ParityShareIsTruncatedAndZeroWithoutFrames) {
    RecordingListener listener;
    StreamStatsCollector collector(fastPeriod);
    collector.attachListener(&listener);
    // Reports with no frame begun (tallyA 0) come first and carry 0.
    ASSERT_TRUE(listener.waitForReports(2));
    collector.addFrameShape(3, 2); // 66.7 -> 66
    ASSERT_TRUE(listener.waitForReports(
        [](const std::vector<MdvStreamStats>& reports) { return sumOfWord(reports, 7) != 0; }));
    // Parity without data packets cannot give a finite share.
    collector.addFrameShape(0, 5);
    const size_t before = listener.reportCount();
    ASSERT_TRUE(listener.waitForReports(before + 2));

    std::vector<uint32_t> shares;
    for (const auto& report : listener.reportsCopy()) {
        if (report.words[7] != 0) {
            shares.push_back(report.words[7]);
        }
    }
    EXPECT_EQ(shares, std::vector<uint32_t>{66});
    collector.attachListener(nullptr);
}

TEST(StreamStatsCollectorTest, ListenerAnsweringTrueResetsEveryCounter) {
    RecordingListener listener;
    std::atomic<bool> answered{false};
    listener.answerStatistics = [&](const MdvStreamStats& stats) {
        if (!answered && stats.words[0] == 3 && stats.words[2] == 4) {
            answered = true;
            return true;
        }
        return false;
    };
    StreamStatsCollector collector(fastPeriod);
    collector.attachListener(&listener);
    collector.addToCounter(0, 3);
    collector.addToCounter(2, 4);
    ASSERT_TRUE(waitUntil([&] { return answered.load(); }));
    const size_t atReset = listener.reportCount();
    ASSERT_TRUE(listener.waitForReports(atReset + 2));
    const auto last = listener.reportsCopy().back();
    EXPECT_EQ(last.words[0], 0u);
    EXPECT_EQ(last.words[2], 0u);

    // An explicit reset does the same.
    collector.addToCounter(1, 5);
    ASSERT_TRUE(listener.waitForReports(
        [](const std::vector<MdvStreamStats>& reports) { return reports.back().words[1] == 5; }));
    collector.reset();
    const size_t atExplicitReset = listener.reportCount();
    ASSERT_TRUE(listener.waitForReports(atExplicitReset + 2));
    EXPECT_EQ(listener.reportsCopy().back().words[1], 0u);
    collector.attachListener(nullptr);
}

TEST(StreamStatsCollectorTest, ThrowingListenerDoesNotStopTheReports) {
    RecordingListener listener;
    listener.throwFromStatistics = true;
    StreamStatsCollector collector(fastPeriod);
    collector.attachListener(&listener);
    EXPECT_TRUE(listener.waitForReports(3));
    collector.attachListener(nullptr);
}

TEST(StreamStatsCollectorTest, DetachClearsOnlyItsOwnListenerAndEndsItsReports) {
    RecordingListener first;
    RecordingListener second;
    StreamStatsCollector collector(fastPeriod);
    collector.attachListener(&first);
    ASSERT_TRUE(first.waitForReports(1));
    collector.attachListener(&second);
    collector.detachListener(&first); // no longer first's: second stays
    const size_t firstCount = first.reportCount();
    ASSERT_TRUE(second.waitForReports(3));
    collector.detachListener(&second);
    EXPECT_EQ(first.reportCount(), firstCount);
}

TEST(StreamStatsCollectorTest, DestructionDoesNotWaitOutTheReportPeriod) {
    // Would hang the test for an hour if the reporter's wait were not woken.
    StreamStatsCollector collector(std::chrono::hours(1));
}

TEST(StreamStatsCollectorTest, CounterOperationsAreNoOpsWithoutACollector) {
    StreamStatsCollector::destroyCurrent();
    EXPECT_EQ(StreamStatsCollector::current(), nullptr);
    stream_stats::countDirectBlock();
    stream_stats::countKeyFrameRequest();
    stream_stats::countRepairedBlock();
    stream_stats::countLostFrame();
    stream_stats::countLatePacket();
    stream_stats::addReceivedBytes(10);
    stream_stats::addDeliveredBytes(10);
    stream_stats::addFrameShape(4, 2);
    StreamStatsCollector::destroyCurrent(); // twice is fine
    EXPECT_EQ(StreamStatsCollector::current(), nullptr);
}

TEST(StreamStatsCollectorTest, CounterOperationsReachTheModuleWideCollector) {
    RecordingListener listener;
    ASSERT_TRUE(StreamStatsCollector::replaceCurrent(fastPeriod));
    StreamStatsCollector::current()->attachListener(&listener);
    stream_stats::countDirectBlock();
    stream_stats::countKeyFrameRequest();
    stream_stats::countKeyFrameRequest();
    stream_stats::countRepairedBlock();
    stream_stats::countLostFrame();
    stream_stats::countLatePacket();
    stream_stats::addReceivedBytes(300);
    stream_stats::addDeliveredBytes(200);
    ASSERT_TRUE(listener.waitForReports([](const std::vector<MdvStreamStats>& reports) {
        const auto& last = reports.back();
        return last.words[0] == 1 && last.words[1] == 2 && last.words[2] == 1 &&
               last.words[3] == 1 && last.words[4] == 1 && sumOfWord(reports, 5) == 300 &&
               sumOfWord(reports, 6) == 200;
    }));
    StreamStatsCollector::destroyCurrent();
}

TEST(StreamStatsCollectorTest, ReplacementWhileOtherThreadsFeedTheOldOne) {
    ASSERT_TRUE(StreamStatsCollector::replaceCurrent(fastPeriod));
    std::atomic<bool> feeding{true};
    std::vector<std::thread> feeders;
    for (int i = 0; i < 3; ++i) {
        feeders.emplace_back([&] {
            while (feeding) {
                stream_stats::addReceivedBytes(1400);
                stream_stats::countLatePacket();
                stream_stats::addFrameShape(8, 2);
                if (const auto held = StreamStatsCollector::current()) {
                    // Holding one across a replacement keeps it usable.
                    held->addToCounter(6, 100);
                    held->addToCounter(0, 1);
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
    EXPECT_EQ(StreamStatsCollector::current(), nullptr);
}

} // namespace
} // namespace client_test
