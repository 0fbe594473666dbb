// The connect sequence, the keep-alive and its telemetry, teardown and the wheel control.
#include <future>
#include <tuple>

#include "sonix/protocol/wheel_packet.h"
#include "tests/sonix/sonix_test_support.h"

using nlohmann::json;
using namespace sonix_test;

class SonixConnect : public FakeCarTest {};

TEST_F(SonixConnect, EachStepFailsWithItsOwnResult) {
    struct Case {
        const char* name;
        const char* type; // the request answered otherwise
        Reply reply;
        MdvError expected;
        const char* lastRequest;
    };
    const Case cases[] = {
        {"no valid answer", "mendrel_get_mcu_version", rawAnswer(R"({"resp_status":1})"),
         MdvErrorNoReply, "mendrel_get_mcu_version"},
        {"hardware type 2", "mendrel_get_mcu_version",
         answer({{"fwMajor", 2}, {"fwMinor", 5}, {"hwType", 2}}), MdvErrorFailed,
         "mendrel_get_mcu_version"},
        {"firmware major 128", "mendrel_get_mcu_version",
         answer({{"fwMajor", 128}, {"fwMinor", 5}, {"hwType", 1}}), MdvErrorFailed,
         "mendrel_get_mcu_version"},
        {"no firmware minor", "mendrel_get_mcu_version", answer({{"fwMajor", 2}, {"hwType", 1}}),
         MdvErrorFailed, "mendrel_get_mcu_version"},
        {"clock refused", "synctime", rawAnswer(R"({"resp_status":2})"), MdvErrorFailed,
         "synctime"},
        {"factory video board", "getdeviceparameter",
         [](const json&) {
             json body = healthyAnswers()["getdeviceparameter"];
             body["fwversion"] = "FACTORY_1_2_3_4";
             body["resp_status"] = 0;
             return std::optional<std::string>(body.dump());
         },
         MdvErrorFailed, "getdeviceparameter"},
        {"sd space unreadable", "getsdspace", answer({{"errorcode", 0}}), MdvErrorFailed,
         "getsdspace"},
    };
    const int threadsBefore = nettest::threadCount();
    const int descriptorsBefore = nettest::openDescriptorCount();
    const auto settled = [&] { return nettest::openDescriptorCount() == descriptorsBefore; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        car.on(c.type, c.reply);
        const size_t requestsBefore = car.requests().size();
        EXPECT_EQ(connect(), c.expected);
        const auto sent = car.requests();
        ASSERT_GT(sent.size(), requestsBefore);
        EXPECT_EQ(json::parse(sent.back())["type"], c.lastRequest);
        // Refused before its threads started or after: nothing is left either way.
        EXPECT_TRUE(nettest::threadsSettleAt(threadsBefore)) << nettest::threadCount();
        EXPECT_TRUE(waitFor(settled)); // the car closes its end once it sees the client's go
        car.on(c.type, answer(healthyAnswers()[c.type])); // synctime: an empty success
    }
    // The highest firmware major the client accepts.
    car.on("mendrel_get_mcu_version", answer({{"fwMajor", 127}, {"fwMinor", 0}, {"hwType", 1}}));
    EXPECT_EQ(connect(), MdvErrorNone);
}

TEST_F(SonixConnect, AHeartbeatThatFailsWhileConnectingFailsTheConnect) {
    car.hold("getvideostatus");
    car.on("heartbeat", rawAnswer(R"({"resp_status":1})"));
    auto connecting = std::async(std::launch::async, [this] { return connect(); });
    // The first beat is due while the car sits on its answer; it queues behind that read and
    // fails before the reads that follow.
    ASSERT_TRUE(car.waitFor("getvideostatus"));
    ASSERT_TRUE(waitFor([&] { return probe.commandsWaiting(); }));
    car.release("getvideostatus");
    EXPECT_EQ(connecting.get(), MdvErrorFailed);
    EXPECT_EQ(car.count("heartbeat"), 1u);
    EXPECT_FALSE(client->isConnected());
}

// Anyone on the car's network can send an empty datagram: it carries nothing and ends nothing.
TEST_F(SonixConnect, ZeroLengthDatagramsOnTheMediaAndWheelPortsLeaveTheSessionUp) {
    connectOrFail();
    nettest::UdpPeer stranger;
    ASSERT_TRUE(stranger.sendTo(probe.mediaPort(), {}));
    ASSERT_TRUE(stranger.sendTo(probe.wheelPort(), {}));
    // Every socket was readable in the pass that read the first mark; the second mark comes
    // through only once that pass, with whatever it reported, is over.
    for (const char* mark : {"mark 1", "mark 2"}) {
        ASSERT_TRUE(stranger.sendTo(probe.wheelPort(), nettest::bytesOf(mark)));
        std::unique_ptr<NetManager::NetPacket> packet;
        ASSERT_TRUE(probe.wheelConnection()->receive(packet, 10000));
        EXPECT_EQ(packet->data, nettest::bytesOf(mark)); // nothing was queued for the empty one
    }
    EXPECT_TRUE(client->isConnected());
    EXPECT_EQ(listener.disconnects, 0);
}

TEST_F(SonixConnect, NoCarListeningPassesTheSocketLayersCodeOn) {
    // Another loopback address of the test's namespace, where nothing listens.
    EXPECT_EQ(client->connect(nettest::address("127.0.0.2")),
              static_cast<MdvError>(kNetConnectFailed));
    EXPECT_FALSE(client->isConnected());
}

TEST_F(SonixConnect, ClockIsSetFromTheInjectedUtcClock) {
    using namespace std::chrono;
    client = std::make_unique<MdVideoClientSonix>(
        &listener, [] { return sys_days{2024y / 2 / 29} + 23h + 59min + 59s + 999ms; });
    connectOrFail();
    // The second request of the sequence, right after the microcontroller's version.
    EXPECT_EQ(
        car.requests().at(1),
        R"({"day":29,"hour":23,"min":59,"month":2,"sec":59,"timezone":"GMT","type":"synctime","year":2024})");
}

TEST_F(SonixConnect, HeartbeatBytesBecomeTelemetryOnce) {
    car.on("heartbeat", answer({{"bytes", "0A1B2C0706"}}));
    connectOrFail();
    ASSERT_TRUE(waitFor([&] { return listener.telemetries >= 1; }));
    EXPECT_EQ(listener.telemetries, 1);
    const MdvTelemetry t = listener.lastTelemetry();
    EXPECT_EQ(std::tie(t.statusByte0, t.statusByte1, t.statusByte2),
              std::make_tuple(uint8_t{10}, 27u, 44u));
    EXPECT_EQ(std::tie(t.statusFlag0, t.gyroSteeringEnabled, t.motorsDisengaged, t.deviceFlag0,
                       t.deviceFlag1, t.deviceFlag2, t.deviceFlag3, t.deviceFlag4),
              std::make_tuple(true, true, true, false, true, true, false, false));
    // The connect's SD-space reading is in the same record.
    EXPECT_EQ(std::tie(t.sdTotal, t.sdSpace), std::make_tuple(1024000, 256000));
    EXPECT_TRUE(client->isTelemetryValid());
}

TEST_F(SonixConnect, ACardBecomingReadableStartsOneSdRefreshAtATime) {
    connectOrFail();
    ASSERT_EQ(car.count("getsdspace"), 1u); // the connect's own reading
    car.hold("getsdspace");
    auto apply = [&](uint8_t flags) {
        probe.applyDeviceFlags(flags);
        return probe.sdRefreshRunning(); // a refresh starts before applyDeviceFlags returns
    };
    auto finishRefresh = [&](size_t readings) {
        ASSERT_TRUE(car.waitFor("getsdspace", readings));
        car.release("getsdspace");
        car.hold("getsdspace");
        ASSERT_TRUE(waitFor([&] { return !probe.sdRefreshRunning(); }));
    };

    EXPECT_FALSE(apply(0x00));
    EXPECT_TRUE(apply(0x09));
    // While it runs, a card that goes and comes back starts no second one.
    EXPECT_TRUE(apply(0x19));
    EXPECT_TRUE(apply(0x09));
    finishRefresh(2);
    EXPECT_FALSE(apply(0x09)); // still readable: nothing new
    EXPECT_FALSE(apply(0x19));
    EXPECT_TRUE(apply(0x09));
    finishRefresh(3);
    car.release("getsdspace");
    EXPECT_EQ(car.count("getsdspace"), 3u);
}

TEST_F(SonixConnect, DisconnectWhileTheHeartbeatSleepsReturnsAtOnce) {
    connectOrFail();
    const int threadsConnected = nettest::threadCount();
    const auto start = Clock::now();
    client->disconnect();
    EXPECT_LT(secondsSince(start), 1.0); // not the rest of the 2 s period
    EXPECT_EQ(listener.disconnects, 1);
    // poll, worker, command, heartbeat
    EXPECT_TRUE(nettest::threadsSettleAt(threadsConnected - 4)) << nettest::threadCount();
    EXPECT_EQ(car.count("heartbeat"), 0u);
}

TEST_F(SonixConnect, WheelControlGoesOutOnlyWhileConnected) {
    EXPECT_FALSE(client->sendWheelControl(0.25f, 0.25f));
    connectOrFail();
    EXPECT_TRUE(client->sendWheelControl(1.0f, -0.5f));
    // The first datagram the car receives is this one: nothing went out before the connect.
    EXPECT_EQ(car.nextWheelPacket(), sonix::wheelPacket(1.0f, -0.5f)); // bytes: protocol_test
    client->disconnect();
    EXPECT_FALSE(client->sendWheelControl(1.0f, 1.0f));
}
