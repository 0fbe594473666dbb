// The settings read at connect and the setters, against an in-test car.
#include <tuple>

#include "tests/sonix/sonix_test_support.h"

using nlohmann::json;
using namespace sonix_test;

namespace {

// The answer of a healthy car to `type`, with some members changed.
Reply healthyWith(const std::string& type, const json& changes) {
    json body = healthyAnswers()[type];
    body.update(changes);
    return answer(body);
}

} // namespace

class SonixSettings : public FakeCarTest {
protected:
    // The requests sent by `operation`, which must be synchronous.
    std::vector<json> sentBy(const std::function<void()>& operation) {
        const size_t before = car.requests().size();
        operation();
        std::vector<json> sent;
        const auto all = car.requests();
        for (size_t i = before; i < all.size(); ++i) {
            json request = json::parse(all[i]);
            if (request["type"] != "heartbeat") {
                sent.push_back(request);
            }
        }
        return sent;
    }
};

TEST_F(SonixSettings, ConnectCachesWhatTheCarReports) {
    car.on("getdeviceparameter", healthyWith("getdeviceparameter", {{"device_ssid", "__UNSET__"},
                                                                    {"device_pwd", "__UNSET__x"},
                                                                    {"powerfrequency", 60},
                                                                    {"wifichannel", 11},
                                                                    {"wifidevicemode", 1}}));
    car.on("getvideostatus", healthyWith("getvideostatus", {{"bitrate", 2000000}, {"wdr", 1}}));
    car.on(
        "mendrel_get_carconfig",
        healthyWith("mendrel_get_carconfig", {{"gyrosteering_enabled", 1}, {"idle_disable", 1}}));
    connectOrFail();

    // "__UNSET__" is the car's word for "never set", and only that word exactly.
    const MdvConfigWifi wifi = client->cachedWifiConfig();
    EXPECT_EQ(std::tie(wifi.autoChannel, wifi.channel, wifi.ssid, wifi.password, wifi.mac,
                       wifi.deviceMode, wifi.deviceSsid, wifi.devicePassword),
              std::make_tuple(true, 11, "fakecar", "secret", "02:00:00:00:00:01", true, "",
                              "__UNSET__x"));
    const CameraSettings camera = client->cachedCameraSettings();
    EXPECT_EQ(std::tie(camera.powerFrequency, camera.bitrateLevel, camera.wdr, camera.recordMinutes,
                       camera.loopRecording),
              std::make_tuple(1, -1, true, 3, true));
    const CarConfig carConfig = client->cachedCarConfig();
    EXPECT_EQ(
        std::tie(carConfig.drivingBrake, carConfig.idleDisable, carConfig.gyroSteeringDefaultState),
        std::make_tuple(true, true, false));
    const MdvTelemetry t = client->telemetrySnapshot();
    EXPECT_EQ(std::tie(t.gyroSteeringEnabled, t.motorsDisengaged, t.deviceFlag0, t.deviceFlag3,
                       t.sdTotal, t.sdSpace),
              std::make_tuple(true, false, true, true, 1024000, 256000));
    const std::vector<std::pair<std::string, std::string>> versions = {
        {"Video Firmware", "v2.10.0"}, {"ECU Firmware", "v2.5"}};
    EXPECT_EQ(client->getFirmwareVersions(), versions);
}

TEST_F(SonixSettings, CameraSettingsSendOnlyWhatDiffersAndCacheOnlyWhatWasAccepted) {
    car.on("getvideostatus", healthyWith("getvideostatus", {{"bitrate", 2000000}}));
    connectOrFail();
    CameraSettings settings = client->cachedCameraSettings();

    EXPECT_TRUE(sentBy([&] { EXPECT_TRUE(client->setCameraSettings(settings)); }).empty());

    settings.recordMinutes = 7;
    auto sent = sentBy([&] { EXPECT_TRUE(client->setCameraSettings(settings)); });
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], json::parse(R"({"type":"setrecordlength","minutes":7})"));

    settings.bitrateLevel = 2; // cached as -1: the car's 2000000 is not in the table
    sent = sentBy([&] { EXPECT_TRUE(client->setCameraSettings(settings)); });
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], json::parse(R"({"type":"setvideoparameters","bitrate":1572864,"gop":0,
                                       "resolution":1,"fps":30})"));

    // The car takes the first change and refuses the second: nothing is recorded.
    const CameraSettings accepted = client->cachedCameraSettings();
    car.on("setlooprecordstatus", rawAnswer(R"({"resp_status":2})"));
    CameraSettings refused = accepted;
    refused.wdr = !refused.wdr;
    refused.loopRecording = !refused.loopRecording;
    refused.powerFrequency = 1;
    sent = sentBy([&] { EXPECT_FALSE(client->setCameraSettings(refused)); });
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], json::parse(R"({"type":"setwdr","status":1})"));
    EXPECT_EQ(sent[1], json::parse(R"({"type":"setlooprecordstatus","status":0})"));
    EXPECT_EQ(client->cachedCameraSettings().wdr, accepted.wdr);
}

TEST_F(SonixSettings, CarConfigSendsTheMotorStateOnlyFromFirmwareOnePointOne) {
    CarConfig config;
    config.drivingBrake = true;
    config.controllerPairingEnabled = true;
    config.applyDisengageMotors = true;
    config.disengageMotors = true;
    config.gyroSteeringEnabled = true; // not applied: the car's current state goes out
    struct Case {
        int minor;
        int motors;
    };
    for (const Case c : {Case{0, 0}, Case{1, 1}}) {
        SCOPED_TRACE(c.minor);
        car.on("mendrel_get_mcu_version",
               answer({{"fwMajor", 1}, {"fwMinor", c.minor}, {"hwType", 1}}));
        connectOrFail();
        const auto sent = sentBy([&] { EXPECT_TRUE(client->setCarConfig(config)); });
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], json({{"type", "mendrel_set_carconfig"},
                                 {"driving_brake", 1},
                                 {"idle_disable", 0},
                                 {"gyrosteering_default_state", 0},
                                 {"controller_pairing_enabled", 1},
                                 {"gyrosteering_enabled", 0},
                                 {"disengage_motors", c.motors}}));
        EXPECT_TRUE(client->cachedCarConfig().controllerPairingEnabled);
        client->disconnect();
    }
}

TEST_F(SonixSettings, WifiChangesGoOutOnlyWhileConnectedAndAreCachedAfterThePause) {
    MdvConfigWifi wanted;
    wanted.ssid = "elsewhere";
    EXPECT_FALSE(client->setConfigWifi(wanted));
    EXPECT_EQ(client->cachedWifiConfig().ssid, "");

    connectOrFail();
    wanted = client->cachedWifiConfig();
    wanted.ssid = "elsewhere";
    wanted.channel = 3;
    wanted.mac = "never sent";
    const auto start = Clock::now();
    EXPECT_TRUE(client->setConfigWifi(wanted));
    EXPECT_GE(secondsSince(start), 2.0);
    ASSERT_TRUE(car.waitFor("setwifiparameters"));
    EXPECT_EQ(car.requestsOf("setwifiparameters").at(0),
              json::parse(R"({"type":"setwifiparameters","ssid":"elsewhere","channel":3})"));
    const MdvConfigWifi cached = client->cachedWifiConfig();
    EXPECT_EQ(cached.ssid, "elsewhere");
    EXPECT_EQ(cached.channel, 3);
    EXPECT_EQ(cached.mac, "never sent");
}

TEST_F(SonixSettings, SsidListComesSortedAndOnlyAsText) {
    connectOrFail();
    struct Case {
        json list;
        bool ok;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {json::array({"b", "a", "b"}), true, {"a", "b", "b"}},
        {json::object({{"x", "Zeta"}, {"y", "Alpha"}}), true, {"Alpha", "Zeta"}},
        {"lonely", true, {"lonely"}},
        {nullptr, true, {}},
        {json::array({"a", 1}), false, {"a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list.dump());
        car.on("mendrel_get_wifissid_list", answer({{"SSID_list", c.list}}));
        std::vector<std::string> ssids = {"stale"};
        EXPECT_EQ(client->getSsidList(ssids), c.ok);
        EXPECT_EQ(ssids, c.expected);
    }
    car.on("mendrel_get_wifissid_list", rawAnswer(R"({"resp_status":1})"));
    std::vector<std::string> untouched = {"kept"};
    EXPECT_FALSE(client->getSsidList(untouched));
    EXPECT_EQ(untouched, std::vector<std::string>{"kept"});
}
