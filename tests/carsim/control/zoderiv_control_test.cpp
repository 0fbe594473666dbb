#include <gtest/gtest.h>

#include "carsim/zoderiv/zoderiv_control.h"

using nlohmann::json;
using namespace carsim;

namespace {

class ZoderivControlTest : public ::testing::Test {
protected:
    json ask(json request) { return control.answer(request).value_or(json()); }
    int status(const std::string& command, int tag, json params = json::object()) {
        params["command"] = command;
        params["tag"] = tag;
        return ask(params).value("resp_status", -1);
    }

    Options options;
    CarState state{CarSettings()};
    VideoStream video{MediaOptions()};
    FaultSchedule faults{options, FaultSchedule::Clock::now()};
    ZoderivControl control{state, video, faults, [] { return -1; }, 2500};
};

} // namespace

TEST_F(ZoderivControlTest, AnswersEchoTheTagAndComeAfterTheirBigEndianLength) {
    json reply = ask({{"command", "heartbeat"}, {"tag", 41}});
    EXPECT_EQ(reply["tag"], 41);
    EXPECT_EQ(reply["resp_status"], 0);
    EXPECT_EQ(reply["data"].get<std::string>().size() % 2, 0u);
    json unknown = ask({{"command", "launch"}, {"tag", 42}});
    EXPECT_EQ(unknown["tag"], 42);
    EXPECT_NE(unknown["resp_status"], 0);
    EXPECT_NE(ask({{"command", "heartbeat"}})["resp_status"], 0) << "no tag";

    const std::string text = R"({"resp_status":0,"tag":3})";
    EXPECT_EQ(ZoderivControl::frame({{"resp_status", 0}, {"tag", 3}}),
              std::string("\0\0\0", 3) + static_cast<char>(text.size()) + text);
}

// Settings round trips are checked through the client against the running car.
TEST_F(ZoderivControlTest, StreamingNeedsAHandshakeAndABoolean) {
    control.onConnected({}, FaultSchedule::Clock::now());
    EXPECT_NE(status("enable_video_streaming", 1, {{"enabled", true}}), 0) << "no handshake";
    EXPECT_NE(status("connection_handshake", 2, {{"realtimePort", 0}}), 0);
    EXPECT_EQ(status("enable_video_streaming", 3, {{"enabled", false}}), 0);
    EXPECT_NE(status("enable_video_streaming", 4, {{"enabled", 1}}), 0) << "not a boolean";
}
