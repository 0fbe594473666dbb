// The Wi-Fi settings read at every connect and written on request, the network list, and the
// slots the car has no function for.
#include <tuple>

#include "tests/epsilon/epsilon_test_support.h"

namespace epsilon_test {
namespace {

// Every member, comparable and printable as one.
auto fields(const MdvConfigWifi& w) {
    return std::tie(w.autoChannel, w.channel, w.ssid, w.password, w.mac, w.deviceMode, w.deviceSsid,
                    w.devicePassword);
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
    const MdvConfigWifi flagsFlipped{true, 6, "car", "pass", "", false, "home", "secret"};
    struct Case {
        const char* name;
        json answer;
        MdvConfigWifi cached;
    };
    const Case cases[] = {
        {"integers", FakeCar::standardConfig(),
         MdvConfigWifi{false, 6, "car", "pass", "", true, "home", "secret"}},
        {"flags as JSON booleans", configWith({{"autoChannel", true}, {"deviceMode", false}}),
         flagsFlipped},
        {"no device password", configWith({{"channel", 11}}, "devicePassword"), flagsFlipped},
        {"name not a string", configWith({{"SSID", 5}, {"channel", 11}}), flagsFlipped},
        {"back to integers", configWith({{"channel", 11}}),
         MdvConfigWifi{false, 11, "car", "pass", "", true, "home", "secret"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        car->on("get_device_config",
                [&c](FakeCar& car, const json& request) { car.answerOk(request, c.answer); });
        ASSERT_EQ(connect(), MdvErrorNone);
        EXPECT_EQ(fields(client->cachedWifiConfig()), fields(c.cached));
        client->disconnect();
    }
}

// Connected, the car's answer is not awaited; not connected (before the first connect and after
// a disconnect), nothing is sent and the cache keeps what the car last said.
TEST_F(EpsilonTest, SetConfigWifiSendsFlagsAsIntegersAndCachesOnlyWhileConnected) {
    makeClient(Timing{});
    const MdvConfigWifi wanted{true, 3, "new", "pw", "02:00:00:00:00:01", false, "", "dp"};
    const MdvConfigWifi initial = client->cachedWifiConfig();
    EXPECT_FALSE(client->setConfigWifi(wanted));
    EXPECT_EQ(fields(client->cachedWifiConfig()), fields(initial));

    car->on("set_wifi_config", nullptr); // never answers
    ASSERT_EQ(connect(), MdvErrorNone);
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(client->setConfigWifi(wanted));
    EXPECT_GE(secondsSince(start), 2.0); // the car's time to take the settings
    EXPECT_EQ(fields(client->cachedWifiConfig()), fields(wanted));
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

    client->disconnect();
    const MdvConfigWifi kept = client->cachedWifiConfig();
    EXPECT_FALSE(client->setConfigWifi(initial));
    EXPECT_EQ(fields(client->cachedWifiConfig()), fields(kept));
    EXPECT_EQ(car->requests("set_wifi_config").size(), 1u);
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
