// A car that drops away while it streams (it stops answering heartbeats, closes its control
// connection, or vanishes for a while): the source lets it go, scans again under the grey fill,
// and streams again once the car is back; and cars the source cannot use are let go at once.
#include "tests/e2e/e2e_fixture.h"
#include "tests/e2e/wire_log_reader.h"

namespace e2e {
namespace {

// Long enough for an unanswered heartbeat to time out (2 s period, 5 s answer time-out) and a
// new connection to be made.
constexpr auto kDropBound = std::chrono::seconds(20);

struct DropAway {
    const char* name;
    const char* family;
    std::vector<std::string> fault;
    bool gone; // the car is away for a while: scans in between find nothing

    friend void PrintTo(const DropAway& drop, std::ostream* out) { *out << drop.name; }
};

class CarDropsAway : public EndToEnd, public ::testing::WithParamInterface<DropAway> {};

TEST_P(CarDropsAway, SourceScansAgainAndStreamsWhenTheCarIsBack) {
    const DropAway& drop = GetParam();
    ASSERT_TRUE(network->addCar(car(drop.family, "car1", drop.fault))) << network->error();
    const int source = host->createSource();
    ASSERT_GE(source, 0);
    ASSERT_TRUE(waitStreaming(source));

    ASSERT_TRUE(waitFill(source, kScanningFill, kDropBound)) << "the source never let the car go";
    EXPECT_EQ(logoMismatch(host->picture(source), logo(), kScanningFill), "");
    ASSERT_TRUE(waitForLine(source, connected(), 2, kDropBound));
    ASSERT_TRUE(waitStreaming(source));

    const std::vector<LogLine> lines = host->log(source);
    EXPECT_EQ(sequenceMismatch(
                  lines, {{connected()}, {noDevices(), drop.gone ? 1 : 0, kAny}, {connected()}}),
              "");
    EXPECT_EQ(controlConnections(network->output(1)), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Fault, CarDropsAway,
    ::testing::Values(DropAway{"silent_sonix", "sonix", {"--heartbeat-stop", "1"}, false},
                      DropAway{"silent_zoderiv", "zoderiv", {"--heartbeat-stop", "1"}, false},
                      DropAway{"closes_sonix", "sonix", {"--close-control", "5"}, false},
                      DropAway{"closes_zoderiv", "zoderiv", {"--close-control", "5"}, false},
                      // Away 10 s after its start (the source streams after 3 s, or a few more
                      // on a busy machine), back 3 s later.
                      DropAway{"vanishes_sonix", "sonix", {"--vanish", "10:3"}, true},
                      DropAway{"vanishes_zoderiv", "zoderiv", {"--vanish", "10:3"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EndToEnd, UnsupportedHardwareIsLetGoAndScannedAgain) {
    ASSERT_TRUE(network->addCar(car("sonix", "car1", {"--hw-type", "2"}))) << network->error();
    const int source = host->createSource();
    ASSERT_GE(source, 0);

    ASSERT_TRUE(waitForLine(source, couldntConnect(), 2));
    EXPECT_EQ(host->log(source), (std::vector<LogLine>{connectFailed(), couldntConnect(),
                                                       connectFailed(), couldntConnect()}));
    const Picture picture = host->picture(source);
    EXPECT_EQ(picture.stats.uploads, 0u);
    EXPECT_TRUE(fillMismatch(picture, logo(), kScanningFill).empty() ||
                fillMismatch(picture, logo(), kConnectingFill).empty());
    EXPECT_EQ(logoMismatch(picture, logo()), "");
    // Each attempt asked for the car's version and no further.
    const std::string wire = network->wireLog(1);
    EXPECT_GE(requestCount(wire, "mendrel_get_mcu_version"), 2);
    EXPECT_EQ(outputCount(network->output(1), "video to"), 0);
}

TEST_F(EndToEnd, CarOfUnknownKindIsPassedOverForAGoodOne) {
    ASSERT_TRUE(network->addCar(car("zoderiv", "odd-car", {"--discovery-kind", "5"})))
        << network->error();
    const int source = host->createSource();
    ASSERT_GE(source, 0);
    // No client serves that kind; as long as nothing else is listed, it keeps trying that car.
    ASSERT_TRUE(waitForLine(source, couldntCreateClient(), 2));
    EXPECT_EQ(host->stats(source).uploads, 0u);

    ASSERT_TRUE(network->addCar(car("zoderiv", "good-car"))) << network->error();
    // Started again, the odd car is the last one on the bridge and so mostly the first to
    // answer a broadcast probe: listed before the good car.
    network->stopCar(1);
    ASSERT_TRUE(network->startCar(1)) << network->error();
    const int failedBefore = countOf(host->log(source), couldntCreateClient());
    ASSERT_TRUE(waitStreaming(source));

    const std::vector<LogLine> lines = host->log(source);
    // At most a link creation already under way when both cars were up; then the odd one is
    // passed over.
    EXPECT_LE(countOf(lines, couldntCreateClient()), failedBefore + 1) << describe(lines);
    EXPECT_EQ(sequenceMismatch(lines, {{couldntCreateClient(), 2, kAny}, {connected()}}), "");
    EXPECT_EQ(controlConnections(network->output(1)), 0);
    EXPECT_EQ(outputCount(network->output(2), "video to"), 1);
}

} // namespace
} // namespace e2e
