// End to end against the real simulator, each test with a car in a namespace of its own. The
// client's sockets are made on the test thread, which enters the car's namespace.
#include <iostream>

#include "sonix/firmware_catalogue.h"
#include "tests/sonix/sonix_test_support.h"
#include "tests/support/car_process.h"

using namespace sonix_test;

namespace {

class SonixSimulator : public ::testing::Test {
protected:
    void startCar(std::vector<std::string> args) {
        args.insert(args.begin(), {"--family", "sonix"});
        car = std::make_unique<carclient::CarProcess>(std::move(args));
        ASSERT_TRUE(car->ready());
        inside = std::make_unique<carclient::InNamespace>(car->namespaceFd());
        threadsBefore = nettest::threadCount();
        descriptorsBefore = nettest::openDescriptorCount();
    }
    void TearDown() override {
        client.reset();
        // Nothing of the client is left: no thread, no descriptor.
        if (inside) {
            EXPECT_TRUE(nettest::threadsSettleAt(threadsBefore)) << nettest::threadCount();
            EXPECT_EQ(nettest::openDescriptorCount(), descriptorsBefore);
        }
        inside.reset();
        car.reset();
    }
    // Prints a measured figure for the report of the run.
    static void report(const char* what, double value, const char* unit = "s") {
        std::cout << "[ measured ] " << what << ": " << value << " " << unit << "\n";
    }

    std::unique_ptr<carclient::CarProcess> car;
    std::unique_ptr<carclient::InNamespace> inside;
    int threadsBefore = 0;
    int descriptorsBefore = 0;
    Listener listener;
    std::unique_ptr<MdVideoClientSonix> client = std::make_unique<MdVideoClientSonix>(&listener);
};

} // namespace

TEST_F(SonixSimulator, SessionStaysUpStreamsAndChangesSettings) {
    startCar({});
    const auto start = Clock::now();
    ASSERT_EQ(client->connect(loopbackCar()), MdvErrorNone);
    report("connect", secondsSince(start));

    // A few heartbeats, each with the car's status.
    ASSERT_TRUE(waitFor([&] { return listener.telemetries >= 2; }));
    const MdvTelemetry t = listener.lastTelemetry();
    EXPECT_TRUE(t.deviceFlag0);
    EXPECT_TRUE(t.deviceFlag3);
    EXPECT_EQ(t.sdTotal, 30436 * 1024);
    EXPECT_GE(t.statusByte1, 60u);
    EXPECT_TRUE(client->isConnected());
    EXPECT_EQ(client->cachedWifiConfig().ssid, "carsim");

    EXPECT_EQ(client->startStreaming(), 0);
    EXPECT_TRUE(client->isStreaming());
    EXPECT_EQ(client->stopStreaming(), 0);
    EXPECT_FALSE(client->isStreaming());

    std::vector<std::string> ssids;
    EXPECT_TRUE(client->getSsidList(ssids));
    EXPECT_EQ(ssids, (std::vector<std::string>{"CafeFree", "HomeNet", "HomeNet", "Office-5G"}));
    CameraSettings camera = client->cachedCameraSettings();
    camera.recordMinutes = 9;
    camera.bitrateLevel = 3;
    EXPECT_TRUE(client->setCameraSettings(camera));

    // A new connection reads the settings again: the car kept the change.
    client->disconnect();
    EXPECT_EQ(listener.disconnects, 1);
    ASSERT_EQ(client->connect(loopbackCar()), MdvErrorNone);
    EXPECT_EQ(client->cachedCameraSettings().recordMinutes, 9);
    EXPECT_EQ(client->cachedCameraSettings().bitrateLevel, 3);
    client->disconnect();
}

TEST_F(SonixSimulator, FirmwareUploadReportsProgressToTheEnd) {
    startCar({"--fw-install-seconds", "1"});
    ASSERT_EQ(client->connect(loopbackCar()), MdvErrorNone);
    FirmwareCatalogue::instance().replace(
        {{{1, 0x0206}}, [](int) { return std::vector<uint8_t>(size_t{256} << 10, 0x5A); }});
    std::vector<float> progress;
    const auto start = Clock::now();
    EXPECT_EQ(client->updateFirmware([&](float value) { progress.push_back(value); }), 0);
    report("microcontroller update", secondsSince(start));
    FirmwareCatalogue::instance().clear();
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.front(), 0.0f);
    EXPECT_EQ(progress.back(), 1.0f);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_TRUE(client->isConnected());
    client->disconnect();
}

// A car that stops answering is found within one beat and the answer time-out; one that closes
// its control connection at once, not at a missed beat. The car falls silent shortly before the
// first beat after the connect, so a client that needed a second unanswered beat would take
// 7.5 s, while scheduling delays on a busy machine still have 1.5 s of room.
TEST_F(SonixSimulator, LostCarEndsTheSessionInTime) {
    struct Case {
        std::vector<std::string> carArgs;
        double faultAt, bound;
    };
    for (const Case& c : {Case{{"--heartbeat-stop", "1.5"}, 1.5, 2.0 + 5.0},
                          Case{{"--close-control", "1"}, 0.0, 1.9}}) {
        SCOPED_TRACE(c.carArgs[0]);
        startCar(c.carArgs);
        const auto start = Clock::now();
        listener.disconnects = 0;
        ASSERT_EQ(client->connect(loopbackCar()), MdvErrorNone);
        ASSERT_TRUE(waitFor([&] { return listener.disconnects == 1; }));
        const double lostAfter =
            std::chrono::duration<double>(listener.disconnectedAt.load() - start).count();
        report(c.carArgs[0].c_str(), lostAfter - c.faultAt);
        EXPECT_LT(lostAfter - c.faultAt, c.bound);
        EXPECT_FALSE(client->isConnected());
        TearDown(); // this car and client go; nothing of the client may be left
        client = std::make_unique<MdVideoClientSonix>(&listener);
    }
}
