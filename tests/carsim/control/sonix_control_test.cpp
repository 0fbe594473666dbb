#include <gtest/gtest.h>

#include "carsim/sonix_control.h"

using nlohmann::json;
using namespace carsim;

namespace {

class SonixControlTest : public ::testing::Test {
protected:
    explicit SonixControlTest(Options o = Options()) : options(std::move(o)) {}

    json ask(const json& request) {
        auto reply = control.answer(request);
        return reply ? *reply : json();
    }
    int status(const json& request) { return ask(request).value("resp_status", -1); }

    Options options;
    CarState state{CarSettings()};
    VideoStream video{MediaOptions()};
    FaultSchedule faults{options, FaultSchedule::Clock::now()};
    WireLog log;
    SonixControl control{state, video, faults, log, 0.2};
};

} // namespace

TEST_F(SonixControlTest, EveryReadAnswersWithItsMembersAndStatusZero) {
    struct Read {
        const char* type;
        std::vector<const char*> members;
    };
    const Read reads[] = {
        {"mendrel_get_mcu_version", {"fwMajor", "fwMinor", "hwType"}},
        {"getdeviceparameter",
         {"wifiautochannel", "wifichannel", "ssid", "mac", "pwd", "powerfrequency",
          "wifidevicemode", "device_ssid", "device_pwd", "fwversion"}},
        {"getrecordstatus", {"length", "loop"}},
        {"getvideostatus", {"bitrate", "wdr"}},
        {"mendrel_get_carconfig",
         {"driving_brake", "idle_disable", "gyrosteering_default_state", "gyrosteering_enabled",
          "disengage_motors"}},
        {"getsdspace", {"errorcode", "totalspace", "sdspace"}},
        {"mendrel_get_wifissid_list", {"SSID_list"}},
    };
    for (const auto& read : reads) {
        json reply = ask({{"type", read.type}});
        EXPECT_EQ(reply.value("resp_status", -1), 0) << read.type;
        for (const char* member : read.members) {
            EXPECT_TRUE(reply.contains(member)) << read.type << " lacks " << member;
        }
    }
    json parameters = ask({{"type", "getdeviceparameter"}});
    EXPECT_EQ(parameters["device_ssid"], "__UNSET__");
    EXPECT_EQ(parameters["device_pwd"], "__UNSET__");
    EXPECT_EQ(parameters["fwversion"], "V_2.10.00_37B_X_Y");
    EXPECT_TRUE(ask({{"type", "mendrel_get_wifissid_list"}})["SSID_list"].is_array());
}

TEST_F(SonixControlTest, CameraAndRecordingWritesChangeLaterReads) {
    EXPECT_EQ(status({{"type", "setwdr"}, {"status", 1}}), 0);
    EXPECT_EQ(status({{"type", "setlooprecordstatus"}, {"status", 0}}), 0);
    EXPECT_EQ(status({{"type", "setrecordlength"}, {"minutes", 5}}), 0);
    EXPECT_EQ(status({{"type", "setpowerfrequency"}, {"frequency", 60}}), 0);
    EXPECT_EQ(status({{"type", "setvideoparameters"},
                      {"bitrate", 3145728},
                      {"gop", 0},
                      {"resolution", 1},
                      {"fps", 30}}),
              0);

    json video = ask({{"type", "getvideostatus"}});
    EXPECT_EQ(video["wdr"], 1);
    EXPECT_EQ(video["bitrate"], 3145728);
    json record = ask({{"type", "getrecordstatus"}});
    EXPECT_EQ(record["length"], 5);
    EXPECT_EQ(record["loop"], 0);
    EXPECT_EQ(ask({{"type", "getdeviceparameter"}})["powerfrequency"], 60);
}

TEST_F(SonixControlTest, InvalidWritesAreRefusedAndChangeNothing) {
    EXPECT_NE(status({{"type", "setvideoparameters"}, {"bitrate", 2000000}}), 0);
    EXPECT_NE(status({{"type", "setpowerfrequency"}, {"frequency", 55}}), 0);
    EXPECT_NE(status({{"type", "setwdr"}}), 0);
    EXPECT_NE(status({{"type", "setwifiparameters"}, {"channel", "six"}}), 0);
    EXPECT_EQ(ask({{"type", "getvideostatus"}})["bitrate"], 1572864);
    EXPECT_EQ(ask({{"type", "getdeviceparameter"}})["wifichannel"], 6);
}

TEST_F(SonixControlTest, WifiWritesTakeOnlyTheMembersSent) {
    EXPECT_EQ(status({{"type", "setwifiparameters"},
                      {"channel", 11},
                      {"wifiautochannel", 0},
                      {"device_ssid", "Home"},
                      {"device_pwd", "secret"}}),
              0);
    json p = ask({{"type", "getdeviceparameter"}});
    EXPECT_EQ(p["wifichannel"], 11);
    EXPECT_EQ(p["wifiautochannel"], 0);
    EXPECT_EQ(p["device_ssid"], "Home");
    EXPECT_EQ(p["device_pwd"], "secret");
    EXPECT_EQ(p["pwd"], "12345678");
}

TEST_F(SonixControlTest, CarConfigurationWritesShowInReadsAndInTheHeartbeatBits) {
    EXPECT_EQ(status({{"type", "mendrel_set_carconfig"},
                      {"driving_brake", 0},
                      {"idle_disable", 1},
                      {"gyrosteering_default_state", 1},
                      {"controller_pairing_enabled", 1},
                      {"gyrosteering_enabled", 1},
                      {"disengage_motors", 1}}),
              0);
    json config = ask({{"type", "mendrel_get_carconfig"}});
    EXPECT_EQ(config["driving_brake"], 0);
    EXPECT_EQ(config["idle_disable"], 1);
    EXPECT_EQ(config["gyrosteering_enabled"], 1);
    EXPECT_EQ(config["disengage_motors"], 1);
    std::string bytes = ask({{"type", "heartbeat"}})["bytes"];
    EXPECT_EQ(std::stoi(bytes.substr(6, 2), nullptr, 16) & 6, 6);
}

TEST_F(SonixControlTest, HeartbeatCarriesFiveStatusBytesThatChange) {
    json first = ask({{"type", "heartbeat"}});
    json second = ask({{"type", "heartbeat"}});
    EXPECT_EQ(first["resp_status"], 0);
    ASSERT_TRUE(first["bytes"].is_string());
    EXPECT_EQ(first["bytes"].get<std::string>().size(), 10u);
    EXPECT_NE(first["bytes"], second["bytes"]);
}

TEST_F(SonixControlTest, UnknownOrTypelessRequestsGetANonZeroStatus) {
    EXPECT_NE(status({{"type", "selfdestruct"}}), 0);
    EXPECT_NE(status({{"flag", "01"}}), 0);
    auto reply = control.onRequest("{not json}");
    ASSERT_TRUE(reply);
    EXPECT_NE(json::parse(*reply).value("resp_status", 0), 0);
}

TEST_F(SonixControlTest, AnswersAreCompactJsonWithSortedKeys) {
    auto reply = control.onRequest(R"({"type":"mendrel_get_mcu_version"})");
    ASSERT_TRUE(reply);
    EXPECT_EQ(
        *reply,
        R"({"fwMajor":2,"fwMinor":5,"hwType":1,"resp_status":0,"type":"mendrel_get_mcu_version"})");
}

TEST_F(SonixControlTest, ErrorAcknowledgementTakesATwoDigitHexFlag) {
    EXPECT_EQ(status({{"type", "mendrel_acknowledge_error"}, {"flag", "0A"}}), 0);
    EXPECT_NE(status({{"type", "mendrel_acknowledge_error"}, {"flag", "zz"}}), 0);
}

TEST_F(SonixControlTest, InstallWithoutAnUploadedImageIsRefused) {
    EXPECT_EQ(status({{"type", "upgradefw"}}), kStatusNotReady);
    EXPECT_EQ(status({{"type", "mendrel_fwupdatestatus"}}), 0);
    EXPECT_NE(status({{"type", "sendfwbin"}}), 0) << "no fileSize";
}

namespace {
Options silentAfterAMoment() {
    Options o;
    o.heartbeatStopSeconds = 0;
    return o;
}
} // namespace

class SilentHeartbeatTest : public SonixControlTest {
protected:
    SilentHeartbeatTest() : SonixControlTest(silentAfterAMoment()) {}
};

TEST_F(SilentHeartbeatTest, HeartbeatsGoUnansweredWhileOtherRequestsStillAre) {
    control.onConnected({}, FaultSchedule::Clock::now());
    EXPECT_FALSE(control.answer({{"type", "heartbeat"}}).has_value());
    EXPECT_EQ(status({{"type", "getsdspace"}}), 0);
}
