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

// Settings reads and writes are checked through the clients against the running car; here the
// bytes of an answer and the heartbeat's changing status.
TEST_F(SonixControlTest, AnswersAreCompactSortedJsonAndHeartbeatsChange) {
    EXPECT_EQ(
        control.onRequest(R"({"type":"mendrel_get_mcu_version"})"),
        R"({"fwMajor":2,"fwMinor":5,"hwType":1,"resp_status":0,"type":"mendrel_get_mcu_version"})");
    json first = ask({{"type", "heartbeat"}});
    EXPECT_EQ(first["resp_status"], 0);
    EXPECT_EQ(first["bytes"].get<std::string>().size(), 10u);
    EXPECT_NE(first["bytes"], ask({{"type", "heartbeat"}})["bytes"]);
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
