// Switching the car's video on and off, and the media socket's resilience.
#include "tests/epsilon/epsilon_test_support.h"

namespace epsilon_test {
namespace {

std::vector<json> enabledValues(FakeCar& car) {
    std::vector<json> values;
    for (const auto& request : car.requests("enable_video_streaming")) {
        values.push_back(request.message.value("enabled", json()));
    }
    return values;
}

} // namespace

TEST_F(EpsilonTest, StreamIsSwitchedOnlyWhenItsStateChanges) {
    ASSERT_EQ(connect(), MdvErrorNone);
    EXPECT_FALSE(client->isStreaming());
    EXPECT_EQ(client->stopStreaming(), 0);
    EXPECT_EQ(client->startStreaming(), 0);
    EXPECT_TRUE(client->isStreaming());
    EXPECT_EQ(client->startStreaming(), 0);
    EXPECT_EQ(client->stopStreaming(), 0);
    EXPECT_FALSE(client->isStreaming());
    EXPECT_EQ(client->stopStreaming(), 0);
    EXPECT_EQ(enabledValues(*car), (std::vector<json>{true, false}));

    // A car that refuses changes nothing on this side.
    car->on("enable_video_streaming", [](FakeCar& car, const json& request) {
        car.answer({{"resp_status", 3}, {"tag", request["tag"]}});
    });
    EXPECT_EQ(client->startStreaming(), 0);
    EXPECT_TRUE(client->isStreaming());

    // Every connect ends with the stream off.
    client->disconnect();
    ASSERT_EQ(connect(), MdvErrorNone);
    EXPECT_FALSE(client->isStreaming());
}

// Anyone on the car's network can send an empty datagram to the media port; it must not end the
// session.
TEST_F(EpsilonTest, ZeroLengthDatagramOnTheMediaPortLeavesTheSessionUp) {
    ASSERT_EQ(connect(), MdvErrorNone);
    ASSERT_EQ(client->startStreaming(), 0);
    const int port = realtimePort();
    ASSERT_GT(port, 0);
    ASSERT_TRUE(car->sendDatagram(static_cast<uint16_t>(port), {}));
    ASSERT_TRUE(car->sendDatagram(static_cast<uint16_t>(port), {1, 2, 3}));
    // The poll thread reads both sockets in each pass: once two answers have come through it
    // after the datagrams were sent, it has read them too.
    std::vector<std::string> names;
    EXPECT_TRUE(client->getSsidList(names));
    EXPECT_TRUE(client->getSsidList(names));
    EXPECT_TRUE(client->isConnected());
    EXPECT_EQ(listener.disconnectedCalls, 0);
}

} // namespace epsilon_test
