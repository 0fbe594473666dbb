#include <gtest/gtest.h>

#include "carsim/media/fault_injector.h"

namespace carsim {
namespace {

// Datagrams that carry their own sequence number.
std::vector<Bytes> numbered(int count) {
    std::vector<Bytes> datagrams;
    for (int i = 0; i < count; ++i) {
        datagrams.push_back({static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
    }
    return datagrams;
}

std::vector<int> sequence(const std::vector<Bytes>& datagrams) {
    std::vector<int> numbers;
    for (const Bytes& d : datagrams) {
        numbers.push_back(d[0] << 8 | d[1]);
    }
    return numbers;
}

std::vector<int> pass(const MediaOptions& options, int count,
                      FaultInjector::Counts* counts = nullptr) {
    FaultInjector faults(options);
    std::vector<Bytes> out;
    // In frames of ten datagrams, as the stream hands them over.
    const auto all = numbered(count);
    for (int i = 0; i < count; i += 10) {
        faults.apply(std::vector<Bytes>(all.begin() + i, all.begin() + std::min(i + 10, count)),
                     out);
    }
    if (counts != nullptr) {
        *counts = faults.counts();
    }
    return sequence(out);
}

TEST(FaultInjector, WithoutFaultsEverythingPassesInOrder) {
    const auto out = pass(MediaOptions{}, 100);
    ASSERT_EQ(out.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(out[static_cast<size_t>(i)], i);
    }
}

TEST(FaultInjector, RandomLossDropsAboutTheGivenShareAndFollowsTheSeed) {
    MediaOptions options;
    options.lossPercent = 10;
    FaultInjector::Counts counts;
    const auto out = pass(options, 5000, &counts);
    EXPECT_EQ(out.size() + counts.dropped, 5000u);
    EXPECT_GT(counts.dropped, 350u);
    EXPECT_LT(counts.dropped, 650u);
    EXPECT_TRUE(std::is_sorted(out.begin(), out.end()));
    EXPECT_EQ(out, pass(options, 5000));
    options.seed = 2;
    EXPECT_NE(out, pass(options, 5000));
}

TEST(FaultInjector, BurstLossDropsRunsOfAtLeastTheBurstLength) {
    MediaOptions options;
    options.burstLength = 4;
    options.burstPercent = 2;
    const auto out = pass(options, 3000);
    ASSERT_LT(out.size(), 3000u);
    int previous = -1;
    for (int n : out) {
        const int gap = n - previous - 1;
        EXPECT_TRUE(gap == 0 || gap >= 4) << "gap of " << gap << " before " << n;
        previous = n;
    }
}

TEST(FaultInjector, DuplicatesFollowTheirOriginal) {
    MediaOptions options;
    options.duplicatePercent = 100;
    const auto out = pass(options, 20);
    ASSERT_EQ(out.size(), 40u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(out[static_cast<size_t>(2 * i)], i);
        EXPECT_EQ(out[static_cast<size_t>(2 * i + 1)], i);
    }
}

TEST(FaultInjector, ReorderingSendsAHeldDatagramAfterTheNextOneAcrossFrames) {
    MediaOptions options;
    options.reorderPercent = 100;
    const auto out = pass(options, 20);
    // Every other datagram is held back and follows its successor, also across the frame
    // boundary at 10.
    ASSERT_EQ(out.size(), 20u);
    for (int i = 0; i < 20; i += 2) {
        EXPECT_EQ(out[static_cast<size_t>(i)], i + 1);
        EXPECT_EQ(out[static_cast<size_t>(i + 1)], i);
    }
    options.reorderPercent = 30;
    FaultInjector::Counts counts;
    const auto some = pass(options, 1000, &counts);
    EXPECT_GT(counts.reordered, 100u);
    for (size_t i = 0; i < some.size(); ++i) {
        EXPECT_LE(std::abs(some[i] - static_cast<int>(i)), 1);
    }
}

} // namespace
} // namespace carsim
