// The Wi-Fi settings read at every connect and written on request, the network list, and the
// slots the car has no function for.
#include "tests/epsilon/epsilon_test_support.h"

namespace epsilon_test {
namespace {

MdvConfigWifi wifi(bool autoChannel, int channel, std::string ssid, std::string password,
                   std::string mac, bool deviceMode, std::string deviceSsid,
                   std::string devicePassword) {
    return {autoChannel,    channel,    std::move(ssid),       std::move(password),
            std::move(mac), deviceMode, std::move(deviceSsid), std::move(devicePassword)};
}

void expectSame(const MdvConfigWifi& actual, const MdvConfigWifi& expected) {
    EXPECT_EQ(actual.autoChannel, expected.autoChannel);
    EXPECT_EQ(actual.channel, expected.channel);
    EXPECT_EQ(actual.ssid, expected.ssid);
    EXPECT_EQ(actual.password, expected.password);
    EXPECT_EQ(actual.mac, expected.mac);
    EXPECT_EQ(actual.deviceMode, expected.deviceMode);
    EXPECT_EQ(actual.deviceSsid, expected.deviceSsid);
    EXPECT_EQ(actual.devicePassword, expected.devicePassword);
}

json configWith(const json& changes, const char* without = nullptr) {
    json config = FakeCar::standardConfig();
    config.update(changes);
    if (without != nullptr) {
        config.erase(without);
    }
    return config;
}

} // namespace

// In order: each case connects, so the cache carries over from the case before.
TEST_F(EpsilonTest, ConnectCachesTheCarsWifiSettingsOnlyWhenEveryMemberReads) {
    const MdvConfigWifi standard = wifi(false, 6, "car", "pass", "", true, "home", "secret");
    struct Case {
        const char* name;
        json answer;
        MdvConfigWifi cached;
    };
    const Case cases[] = {
        {"integers", FakeCar::standardConfig(), standard},
        {"flags as JSON booleans", configWith({{"autoChannel", true}, {"deviceMode", false}}),
         wifi(true, 6, "car", "pass", "", false, "home", "secret")},
        {"no device password", configWith({{"channel", 11}}, "devicePassword"),
         wifi(true, 6, "car", "pass", "", false, "home", "secret")},
        {"name not a string", configWith({{"SSID", 5}, {"channel", 11}}),
         wifi(true, 6, "car", "pass", "", false, "home", "secret")},
        {"back to integers", configWith({{"channel", 11}}),
         wifi(false, 11, "car", "pass", "", true, "home", "secret")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        car->on("get_device_config",
                [&c](FakeCar& car, const json& request) { car.answerOk(request, c.answer); });
        ASSERT_EQ(connect(), MdvErrorNone);
        expectSame(client->cachedWifiConfig(), c.cached);
        client->disconnect();
    }
}

TEST_F(EpsilonTest, SetConfigWifiSendsFlagsAsIntegersAndCachesWithoutWaitingForTheCar) {
    makeClient(realTiming());
    car->on("set_wifi_config", nullptr); // never answers
    ASSERT_EQ(connect(), MdvErrorNone);
    const MdvConfigWifi wanted = wifi(true, 3, "new", "pw", "02:00:00:00:00:01", false, "", "dp");
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(client->setConfigWifi(wanted));
    EXPECT_GE(secondsSince(start), 2.0); // the car's time to take the settings
    expectSame(client->cachedWifiConfig(), wanted);

    ASSERT_TRUE(car->waitForHandled("set_wifi_config", 1));
    json sent = car->requests("set_wifi_config").at(0).message;
    sent.erase("tag");
    EXPECT_EQ(sent, (json{{"command", "set_wifi_config"},
                          {"SSID", "new"},
                          {"password", "pw"},
                          {"autoChannel", 1},
                          {"channel", 3},
                          {"deviceMode", 0},
                          {"deviceSSID", ""},
                          {"devicePassword", "dp"}}));
    EXPECT_TRUE(sent["autoChannel"].is_number_integer());
}

TEST_F(EpsilonTest, SetConfigWifiWithoutAConnectionFailsAndKeepsTheCache) {
    const MdvConfigWifi before = client->cachedWifiConfig();
    EXPECT_FALSE(client->setConfigWifi(wifi(true, 3, "new", "pw", "", false, "", "")));
    expectSame(client->cachedWifiConfig(), before);
    ASSERT_EQ(connect(), MdvErrorNone);
    client->disconnect();
    const MdvConfigWifi connected = client->cachedWifiConfig();
    EXPECT_FALSE(client->setConfigWifi(wifi(true, 3, "new", "pw", "", false, "", "")));
    expectSame(client->cachedWifiConfig(), connected);
    EXPECT_TRUE(car->requests("set_wifi_config").empty());
}

TEST_F(EpsilonTest, SsidListComesBackSortedByteWiseOrNotAtAll) {
    struct Case {
        const char* name;
        json answer; // null: rejected
        bool succeeds;
        std::vector<std::string> names;
    };
    const std::vector<std::string> untouched{"untouched"};
    const Case cases[] = {
        {"sorted", {{"ssidList", {"b", "A", "a"}}}, true, {"A", "a", "b"}},
        {"empty", {{"ssidList", json::array()}}, true, {}},
        {"missing", json::object(), true, {}},
        {"non-string element", {{"ssidList", {"b", 1}}}, false, untouched},
        {"not a list", {{"ssidList", "b"}}, false, untouched},
        {"rejected", nullptr, false, untouched},
    };
    ASSERT_EQ(connect(), MdvErrorNone);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        car->on("get_ssid_list", [&c](FakeCar& car, const json& request) {
            if (c.answer.is_null()) {
                car.answer({{"resp_status", 2}, {"tag", request["tag"]}});
            } else {
                car.answerOk(request, c.answer);
            }
        });
        std::vector<std::string> names = untouched;
        EXPECT_EQ(client->getSsidList(names), c.succeeds);
        EXPECT_EQ(names, c.names);
    }
}

TEST_F(EpsilonTest, SlotsWithoutAFunctionOnThisCarDoNothing) {
    ASSERT_EQ(connect(), MdvErrorNone);
    const size_t requestsBefore = car->requests().size();
    bool progressCalled = false;
    EXPECT_FALSE(client->setCameraSettings(CameraSettings{}));
    EXPECT_FALSE(client->setCarConfig(CarConfig{}));
    client->acknowledgeError(1);
    EXPECT_FALSE(client->isFirmwareUpdateAvailable());
    EXPECT_EQ(client->updateFirmware([&](float) { progressCalled = true; }), -1);
    EXPECT_TRUE(client->getFirmwareVersions().empty());
    EXPECT_FALSE(client->sendWheelControl(0.5f, -0.5f));
    EXPECT_FALSE(progressCalled);
    // A request of the test's own as a barrier: anything sent above would have come first.
    std::vector<std::string> names;
    ASSERT_TRUE(client->getSsidList(names));
    EXPECT_EQ(car->requests().size(), requestsBefore + 1);
}

} // namespace epsilon_test
