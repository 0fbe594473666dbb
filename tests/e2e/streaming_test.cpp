// A source finds a car of either family, connects, and shows the car's pictures; two sources
// with two cars each stream their own car.
#include "tests/e2e/e2e_fixture.h"
#include "tests/e2e/wire_log_reader.h"

namespace e2e {
namespace {

class FamilyStreams : public EndToEnd, public ::testing::WithParamInterface<const char*> {};

TEST_P(FamilyStreams, ScansConnectsAndShowsTheCarsPictures) {
    ASSERT_TRUE(network->addCar(car(GetParam(), "car1"))) << network->error();
    const int source = host->createSource();
    ASSERT_GE(source, 0);

    // While it looks for the car and while it connects, the state's colour under the logo.
    ASSERT_TRUE(host->waitUntil([&] { return host->stats(source).renders > 0; }));
    Picture scanning = host->picture(source);
    EXPECT_EQ(fillMismatch(scanning, logo(), kScanningFill), "");
    EXPECT_EQ(logoMismatch(scanning, logo(), kScanningFill), "");
    ASSERT_TRUE(waitFill(source, kConnectingFill));
    EXPECT_EQ(logoMismatch(host->picture(source), logo(), kConnectingFill), "");

    ASSERT_TRUE(waitStreaming(source)) << patternMismatch(host->picture(source));
    // A second's worth more: the pictures keep coming.
    ASSERT_TRUE(waitMorePictures(source, Host::kFramesPerSecond))
        << patternMismatch(host->picture(source));
    const Picture streaming = host->picture(source);
    EXPECT_EQ(logoMismatch(streaming, logo()), "");
    EXPECT_GT(streaming.stats.solid_fills, 0u);
    EXPECT_EQ(streaming.stats.logo_draws, streaming.stats.renders);
    EXPECT_EQ(sequenceMismatch(host->log(source), {{connected()}}), "");
    EXPECT_EQ(controlConnections(network->output(1)), 1);
}

INSTANTIATE_TEST_SUITE_P(Family, FamilyStreams, ::testing::Values("sonix", "zoderiv"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(EndToEnd, TwoSourcesStreamTwoCarsEachItsOwn) {
    ASSERT_TRUE(network->addCar(car("sonix", "car-sonix"))) << network->error();
    ASSERT_TRUE(network->addCar(car("zoderiv", "car-zoderiv"))) << network->error();

    const int first = host->createSource();
    ASSERT_GE(first, 0);
    ASSERT_TRUE(waitStreaming(first));
    // The car the first source took is the one that now sends video.
    const int taken = outputCount(network->output(1), "video to") == 1 ? 1 : 2;
    const std::string takenName = taken == 1 ? "car-sonix" : "car-zoderiv";
    ASSERT_EQ(outputCount(network->output(3 - taken), "video to"), 0);

    const int second = host->createSource();
    ASSERT_GE(second, 0);
    ASSERT_TRUE(waitStreaming(second));
    ASSERT_TRUE(waitMorePictures(first, Host::kFramesPerSecond));
    ASSERT_TRUE(waitMorePictures(second, Host::kFramesPerSecond));

    EXPECT_EQ(sequenceMismatch(host->log(first), {{connected()}}), "");
    // The second may have seen the first one's car listed before the free one.
    EXPECT_EQ(sequenceMismatch(host->log(second), {{inUse(takenName), 0, 1}, {connected()}}), "");
    for (int car = 1; car <= 2; ++car) {
        EXPECT_EQ(controlConnections(network->output(car)), 1) << car;
        EXPECT_EQ(outputCount(network->output(car), "video to"), 1) << car;
    }
    EXPECT_EQ(logoMismatch(host->picture(first), logo()), "");
    EXPECT_EQ(logoMismatch(host->picture(second), logo()), "");
}

} // namespace
} // namespace e2e
