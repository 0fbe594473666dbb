// Two sources never share a car: the one without a car keeps scanning until the car is free,
// and a destroyed source gives its car up at once, leaving no thread or descriptor behind.
#include "tests/e2e/e2e_fixture.h"
#include "tests/e2e/wire_log_reader.h"

namespace e2e {
namespace {

constexpr auto kDestroyBound = std::chrono::milliseconds(2000);

TEST_F(EndToEnd, SecondSourceScansUntilTheFirstGivesTheCarUp) {
    ASSERT_TRUE(network->addCar(car("zoderiv", "car1"))) << network->error();
    const int first = host->createSource();
    ASSERT_GE(first, 0);
    ASSERT_TRUE(waitStreaming(first));

    const int second = host->createSource();
    ASSERT_GE(second, 0);
    // Each of its scans finds the car claimed and starts the next one at once, grey all along.
    ASSERT_TRUE(waitForLine(second, noSuitableDevice(), 2));
    EXPECT_EQ(fillMismatch(host->picture(second), logo(), kScanningFill), "");
    EXPECT_EQ(logoMismatch(host->picture(second), logo(), kScanningFill), "");
    ASSERT_TRUE(waitForLine(second, noSuitableDevice(), 3));
    EXPECT_EQ(fillMismatch(host->picture(second), logo(), kScanningFill), "");
    EXPECT_EQ(host->stats(second).uploads, 0u);
    ASSERT_TRUE(waitMorePictures(first, Host::kFramesPerSecond));

    EXPECT_LT(host->destroySource(first), kDestroyBound);
    ASSERT_TRUE(waitStreaming(second));
    // Every scan while the car was claimed logged both lines, then it connected.
    const std::vector<LogLine> lines = host->log(second);
    std::vector<LogLine> expected;
    for (int scan = 0; scan < countOf(lines, noSuitableDevice()); ++scan) {
        expected.insert(expected.end(), {inUse("car1"), noSuitableDevice()});
    }
    expected.push_back(connected());
    EXPECT_EQ(lines, expected) << describe(lines);
    EXPECT_EQ(controlConnections(network->output(1)), 2);
}

TEST_F(EndToEnd, DestroyWhileStreamingReleasesTheCarThreadsAndDescriptors) {
    ASSERT_TRUE(network->addCar(car("sonix", "car1"))) << network->error();
    // A first source brings up what lives as long as the module (its statistics reporter).
    const int warmUp = host->createSource();
    ASSERT_GE(warmUp, 0);
    ASSERT_TRUE(waitStreaming(warmUp));
    EXPECT_LT(host->destroySource(warmUp), kDestroyBound);
    const int threads = threadCount();
    const int descriptors = openDescriptorCount();

    const int streaming = host->createSource();
    ASSERT_GE(streaming, 0);
    ASSERT_TRUE(waitStreaming(streaming));
    const int waiting = host->createSource();
    ASSERT_GE(waiting, 0);
    ASSERT_TRUE(waitForLine(waiting, noSuitableDevice()));

    EXPECT_LT(host->destroySource(streaming), kDestroyBound);
    // The claim went with it: the waiting source takes the car on its next scan.
    ASSERT_TRUE(waitStreaming(waiting));
    EXPECT_LT(host->destroySource(waiting), kDestroyBound);

    // Joined threads leave the task list a moment after the join returns.
    EXPECT_TRUE(host->waitUntil([&] { return threadCount() == threads; }, 200ms))
        << threadCount() << " threads, " << threads << " before";
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

} // namespace
} // namespace e2e
