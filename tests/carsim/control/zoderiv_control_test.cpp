#include <gtest/gtest.h>

#include "carsim/zoderiv_control.h"

using nlohmann::json;
using namespace carsim;

namespace {

class ZoderivControlTest : public ::testing::Test {
protected:
    json ask(json request) {
        auto reply = control.answer(request);
        return reply ? *reply : json();
    }

    Options options;
    CarState state{CarSettings()};
    VideoStream video{MediaOptions()};
    FaultSchedule faults{options, FaultSchedule::Clock::now()};
    ZoderivControl control{state, video, faults, [] { return -1; }, 2500};
};

} // namespace

TEST_F(ZoderivControlTest, AnswersEchoTheTagAndCarryAStatus) {
    json reply = ask({{"command", "heartbeat"}, {"tag", 41}});
    EXPECT_EQ(reply["tag"], 41);
    EXPECT_EQ(reply["resp_status"], 0);
    ASSERT_TRUE(reply["data"].is_string());
    EXPECT_EQ(reply["data"].get<std::string>().size() % 2, 0u);

    json unknown = ask({{"command", "launch"}, {"tag", 42}});
    EXPECT_EQ(unknown["tag"], 42);
    EXPECT_NE(unknown["resp_status"], 0);
    EXPECT_NE(ask({{"command", "heartbeat"}})["resp_status"], 0) << "no tag";
}

TEST_F(ZoderivControlTest, FramesCarryTheBigEndianLengthOfTheJsonText) {
    std::string framed = ZoderivControl::frame({{"resp_status", 0}, {"tag", 3}});
    std::string text = R"({"resp_status":0,"tag":3})";
    ASSERT_EQ(framed.size(), 4 + text.size());
    EXPECT_EQ(framed.substr(0, 4), std::string("\0\0\0", 3) + static_cast<char>(text.size()));
    EXPECT_EQ(framed.substr(4), text);
}

TEST_F(ZoderivControlTest, WifiWritesChangeTheDeviceConfiguration) {
    json before = ask({{"command", "get_device_config"}, {"tag", 1}});
    for (const char* member : {"autoChannel", "channel", "SSID", "password", "deviceMode",
                               "deviceSSID", "devicePassword"}) {
        EXPECT_TRUE(before.contains(member)) << member;
    }
    json set = {{"command", "set_wifi_config"},
                {"tag", 2},
                {"SSID", "Car"},
                {"password", "pw123456"},
                {"autoChannel", 0},
                {"channel", 3},
                {"deviceMode", 1},
                {"deviceSSID", "Home"},
                {"devicePassword", "x"}};
    EXPECT_EQ(ask(set)["resp_status"], 0);
    json after = ask({{"command", "get_device_config"}, {"tag", 3}});
    EXPECT_EQ(after["SSID"], "Car");
    EXPECT_EQ(after["channel"], 3);
    EXPECT_EQ(after["autoChannel"], 0);
    EXPECT_EQ(after["deviceMode"], 1);
    EXPECT_EQ(after["deviceSSID"], "Home");
}

TEST_F(ZoderivControlTest, StreamingNeedsAHandshakeFirst) {
    control.onConnected({}, FaultSchedule::Clock::now());
    EXPECT_NE(
        ask({{"command", "enable_video_streaming"}, {"tag", 1}, {"enabled", true}})["resp_status"],
        0);
    EXPECT_NE(
        ask({{"command", "connection_handshake"}, {"tag", 2}, {"realtimePort", 0}})["resp_status"],
        0);
    EXPECT_EQ(
        ask({{"command", "enable_video_streaming"}, {"tag", 3}, {"enabled", false}})["resp_status"],
        0);
    EXPECT_NE(
        ask({{"command", "enable_video_streaming"}, {"tag", 4}, {"enabled", 1}})["resp_status"], 0)
        << "a boolean is expected";
}

TEST_F(ZoderivControlTest, SsidListAndKeyFrameRequestsAreAnswered) {
    json list = ask({{"command", "get_ssid_list"}, {"tag", 9}});
    ASSERT_TRUE(list["ssidList"].is_array());
    EXPECT_FALSE(list["ssidList"].empty());
    EXPECT_EQ(ask({{"command", "force_iframe"}, {"tag", 10}})["resp_status"], 0);
}
