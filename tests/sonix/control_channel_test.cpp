// The control channel against an in-test car: wire bytes, answer judging, time-outs, stale
// answers and the command queue's completion guarantees.
#include <algorithm>

#include "tests/sonix/sonix_test_support.h"

using nlohmann::json;
using namespace sonix_test;
using Status = SonixClientProbe::Status;

namespace {

// The outcome of queued commands, as their callbacks saw it.
struct Outcomes {
    MdVideoClientSonix::JsonCallback record(const std::string& name) {
        return [this, name](const Status& status, const json& response) {
            std::lock_guard lock(mutex);
            seen.push_back({name, status.code, response});
        };
    }
    size_t count(const std::string& name) {
        std::lock_guard lock(mutex);
        return std::count_if(seen.begin(), seen.end(),
                             [&](const auto& s) { return s.name == name; });
    }
    bool allFailed() {
        std::lock_guard lock(mutex);
        return std::all_of(seen.begin(), seen.end(), [](const auto& s) {
            return s.code == sonix::kNoAnswer && s.response.is_null();
        });
    }
    struct Seen {
        std::string name;
        uint32_t code;
        json response;
    };
    std::mutex mutex;
    std::vector<Seen> seen; // guarded by mutex
};

json typed(const char* type) {
    return {{"type", type}};
}

} // namespace

class SonixChannel : public FakeCarTest {
protected:
    // Commands still queued are failed when the client goes: while `outcomes` still exists.
    void TearDown() override { client.reset(); }

    Outcomes outcomes;
};

TEST_F(SonixChannel, RequestsGoOutAsCompactSortedJsonWithNothingAround) {
    connectOrFail();
    client->acknowledgeError(0x0A);
    ASSERT_TRUE(car.waitFor("heartbeat"));
    const auto sent = car.requests();
    ASSERT_GE(sent.size(), 8u);
    EXPECT_EQ(sent.front(), R"({"type":"mendrel_get_mcu_version"})");
    EXPECT_NE(
        std::find(sent.begin(), sent.end(), R"({"flag":"0A","type":"mendrel_acknowledge_error"})"),
        sent.end());
    EXPECT_EQ(sent.back(), R"({"type":"heartbeat"})");
}

TEST_F(SonixChannel, AnAnswerNobodyWaitedForIsNotTakenForTheNextOne) {
    car.on("mine", answer({{"v", "mine"}}));
    connectOrFail();
    // Like an answer that arrives after its own request had timed out.
    deliverUnasked(R"({"resp_status":3})");
    Status status;
    json response;
    EXPECT_TRUE(probe.send(typed("mine"), status, response));
    EXPECT_EQ(response.value("v", ""), "mine");
}

TEST_F(SonixChannel, SilentCarFailsTheBeatAfterFiveSecondsAndEndsTheConnection) {
    connectOrFail();
    car.on("*", silence());
    car.on("heartbeat", silence());
    ASSERT_TRUE(car.waitFor("heartbeat"));
    const auto beatSent = Clock::now();
    ASSERT_TRUE(waitFor([&] { return listener.disconnects == 1; }));
    const double detection =
        std::chrono::duration<double>(listener.disconnectedAt.load() - beatSent).count();
    EXPECT_GT(detection, 4.9);
    EXPECT_LT(detection, 6.5);
    EXPECT_FALSE(client->isConnected());
}

TEST_F(SonixChannel, CommandsWithoutAConnectionFailAtOnce) {
    EXPECT_FALSE(probe.queue(typed("early"), outcomes.record("early")));
    EXPECT_EQ(outcomes.count("early"), 1u); // completed before queue returned
    Status status;
    status.code = 0;
    json response = "untouched";
    EXPECT_FALSE(probe.send(typed("early"), status, response));
    EXPECT_EQ(status.code, sonix::kNoAnswer);
    EXPECT_EQ(status.statusHigh | status.statusMid, 0u);
    EXPECT_TRUE(response.is_null());

    connectOrFail();
    client->disconnect();
    EXPECT_FALSE(probe.queue(typed("late"), outcomes.record("late")));
    EXPECT_EQ(outcomes.count("late"), 1u);
    EXPECT_TRUE(outcomes.allFailed());
    EXPECT_EQ(car.count("early") + car.count("late"), 0u);
}

TEST_F(SonixChannel, DisconnectCompletesEveryCommandOnceWithoutWaitingOutTheCar) {
    car.on("hold", silence());
    connectOrFail();
    probe.queue(typed("hold"), outcomes.record("hold"));
    probe.queue(typed("next"), outcomes.record("next"));
    probe.queue(typed("last"), outcomes.record("last"));
    ASSERT_TRUE(car.waitFor("hold"));
    const auto start = Clock::now();
    client->disconnect();
    EXPECT_LT(secondsSince(start), 2.0); // not the 5 s the silent car would take
    for (const char* name : {"hold", "next", "last"}) {
        EXPECT_EQ(outcomes.count(name), 1u) << name;
    }
    EXPECT_TRUE(outcomes.allFailed());
}

TEST_F(SonixChannel, AWorkerThatLeavesLetsNoLaterCommandWait) {
    connectOrFail();
    // Disconnect's first step alone: the worker performs what is queued, then leaves.
    probe.clearRunning();
    probe.queue(typed("wake"), outcomes.record("wake"));
    ASSERT_TRUE(waitFor([&] { return outcomes.count("wake") == 1; }));
    probe.queue(typed("late"), outcomes.record("late"));
    EXPECT_TRUE(waitFor([&] { return outcomes.count("late") == 1; }));
}

TEST_F(SonixChannel, ACommandWithoutCallbackIsPerformedAndTheWorkerGoesOn) {
    connectOrFail();
    probe.queue(typed("unheard"), nullptr);
    Status status;
    json response;
    EXPECT_TRUE(probe.send(typed("after"), status, response));
    EXPECT_EQ(car.count("unheard"), 1u);
}
