#include <gtest/gtest.h>

#include "carsim/sonix/sonix_control.h"

using nlohmann::json;
using namespace carsim;

namespace {

class SonixControlTest : public ::testing::Test {
protected:
    json ask(const json& request) { return control.answer(request).value_or(json()); }
    int status(const json& request) { return ask(request).value("resp_status", -1); }

    Options options;
    CarState state{CarSettings()};
    VideoStream video{MediaOptions()};
    FaultSchedule faults{options, FaultSchedule::Clock::now()};
    WireLog log;
    SonixControl control{state, video, faults, log, 0.2};
};

} // namespace

TEST_F(SonixControlTest, ReadsAndHeartbeatsAnswerWithTheirMembersAsCompactSortedJson) {
    const json reads = json::parse(R"({
        "mendrel_get_mcu_version": ["fwMajor", "fwMinor", "hwType"],
        "getdeviceparameter": ["wifiautochannel", "wifichannel", "ssid", "mac", "pwd",
            "powerfrequency", "wifidevicemode", "device_ssid", "device_pwd", "fwversion"],
        "getrecordstatus": ["length", "loop"], "getvideostatus": ["bitrate", "wdr"],
        "mendrel_get_carconfig": ["driving_brake", "idle_disable", "gyrosteering_default_state",
            "gyrosteering_enabled", "disengage_motors"],
        "getsdspace": ["errorcode", "totalspace", "sdspace"],
        "mendrel_get_wifissid_list": ["SSID_list"]})");
    for (const auto& [type, members] : reads.items()) {
        json reply = ask({{"type", type}});
        EXPECT_EQ(reply.value("resp_status", -1), 0) << type;
        for (const std::string member : members) {
            EXPECT_TRUE(reply.contains(member)) << type << " lacks " << member;
        }
    }
    // The heartbeat carries five status bytes that change.
    json first = ask({{"type", "heartbeat"}});
    EXPECT_EQ(first["resp_status"], 0);
    EXPECT_EQ(first["bytes"].get<std::string>().size(), 10u);
    EXPECT_NE(first["bytes"], ask({{"type", "heartbeat"}})["bytes"]);
    json parameters = ask({{"type", "getdeviceparameter"}});
    EXPECT_EQ(parameters["device_ssid"], "__UNSET__");
    EXPECT_EQ(parameters["fwversion"], "V_2.10.00_37B_X_Y");
    EXPECT_EQ(
        control.onRequest(R"({"type":"mendrel_get_mcu_version"})"),
        R"({"fwMajor":2,"fwMinor":5,"hwType":1,"resp_status":0,"type":"mendrel_get_mcu_version"})");
}

TEST_F(SonixControlTest, WritesChangeLaterReadsAndTakeOnlyTheMembersSent) {
    const json writes = json::parse(R"([
        {"type": "setwdr", "status": 1}, {"type": "setlooprecordstatus", "status": 0},
        {"type": "setrecordlength", "minutes": 5}, {"type": "setpowerfrequency", "frequency": 60},
        {"type": "setvideoparameters", "bitrate": 3145728, "gop": 0, "resolution": 1, "fps": 30},
        {"type": "setwifiparameters", "channel": 11, "wifiautochannel": 0,
         "device_ssid": "Home", "device_pwd": "secret"},
        {"type": "mendrel_set_carconfig", "driving_brake": 0, "idle_disable": 1,
         "gyrosteering_default_state": 1, "controller_pairing_enabled": 1,
         "gyrosteering_enabled": 1, "disengage_motors": 1}])");
    for (const json& write : writes) {
        EXPECT_EQ(status(write), 0) << write;
    }
    const json reads = json::parse(R"({
        "getvideostatus": {"wdr": 1, "bitrate": 3145728},
        "getrecordstatus": {"length": 5, "loop": 0},
        "getdeviceparameter": {"powerfrequency": 60, "wifichannel": 11, "wifiautochannel": 0,
            "device_ssid": "Home", "device_pwd": "secret", "pwd": "12345678"},
        "mendrel_get_carconfig": {"driving_brake": 0, "idle_disable": 1,
            "gyrosteering_enabled": 1, "disengage_motors": 1}})");
    for (const auto& [type, members] : reads.items()) {
        const json reply = ask({{"type", type}});
        for (const auto& [member, value] : members.items()) {
            EXPECT_EQ(reply[member], value) << type << " " << member;
        }
    }
    // The configuration shows in the heartbeat's status bits too.
    std::string bytes = ask({{"type", "heartbeat"}})["bytes"];
    EXPECT_EQ(std::stoi(bytes.substr(6, 2), nullptr, 16) & 6, 6);
}

TEST_F(SonixControlTest, InvalidUnknownAndUnreadyRequestsAreRefusedAndChangeNothing) {
    for (const json& bad : json::parse(R"([
             {"type": "setvideoparameters", "bitrate": 2000000},
             {"type": "setpowerfrequency", "frequency": 55}, {"type": "setwdr"},
             {"type": "setwifiparameters", "channel": "six"},
             {"type": "mendrel_acknowledge_error", "flag": "zz"}, {"type": "selfdestruct"},
             {"flag": "01"}, {"type": "sendfwbin"}])")) {
        EXPECT_NE(status(bad), 0) << bad;
    }
    EXPECT_EQ(ask({{"type", "getvideostatus"}})["bitrate"], 1572864);
    EXPECT_EQ(ask({{"type", "getdeviceparameter"}})["wifichannel"], 6);
    EXPECT_NE(json::parse(control.onRequest("{not json}").value()).value("resp_status", 0), 0);
    EXPECT_EQ(status({{"type", "mendrel_acknowledge_error"}, {"flag", "0A"}}), 0);
    EXPECT_EQ(status({{"type", "upgradefw"}}), kStatusNotReady) << "no image uploaded";
    EXPECT_EQ(status({{"type", "mendrel_fwupdatestatus"}}), 0);
}
