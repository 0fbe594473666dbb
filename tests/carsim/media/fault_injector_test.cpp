#include <numeric>

#include <gtest/gtest.h>

#include "carsim/media/fault_injector.h"

namespace carsim {
namespace {

// Passes `count` datagrams numbered by their own content, in frames of ten as the stream hands
// them over; the numbers that come out.
std::vector<int> pass(const MediaOptions& options, int count,
                      FaultInjector::Counts* counts = nullptr) {
    FaultInjector faults(options);
    std::vector<Bytes> out;
    for (int first = 0; first < count; first += 10) {
        std::vector<Bytes> frame;
        for (int i = first; i < std::min(first + 10, count); ++i) {
            frame.push_back({static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
        }
        faults.apply(std::move(frame), out);
    }
    if (counts != nullptr) {
        *counts = faults.counts();
    }
    std::vector<int> numbers;
    for (const Bytes& d : out) {
        numbers.push_back(d[0] << 8 | d[1]);
    }
    return numbers;
}

TEST(FaultInjector, RandomLossDropsAboutTheGivenShare) {
    std::vector<int> all(100);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(pass(MediaOptions{}, 100), all);
    MediaOptions options;
    options.lossPercent = 10;
    FaultInjector::Counts counts;
    const auto out = pass(options, 5000, &counts);
    EXPECT_EQ(out.size() + counts.dropped, 5000u);
    EXPECT_GT(counts.dropped, 350u);
    EXPECT_LT(counts.dropped, 650u);
    EXPECT_TRUE(std::is_sorted(out.begin(), out.end()));
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

TEST(FaultInjector, DuplicatesFollowTheirOriginalAndReorderingSwapsNeighboursAcrossFrames) {
    MediaOptions options;
    options.duplicatePercent = 100;
    std::vector<int> twice;
    for (int i = 0; i < 20; ++i) {
        twice.insert(twice.end(), {i, i});
    }
    EXPECT_EQ(pass(options, 20), twice);

    options = MediaOptions{};
    options.reorderPercent = 100;
    // Every other datagram is held back and follows its successor, also across the frame
    // boundary at 10.
    std::vector<int> swapped;
    for (int i = 0; i < 20; i += 2) {
        swapped.insert(swapped.end(), {i + 1, i});
    }
    EXPECT_EQ(pass(options, 20), swapped);
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
