// The control channel against a fake car: answers over several reads, tags, the handshake, the
// heartbeat and the ways a connection ends.
#include <iostream>

#include "epsilon/answer_framing.h"
#include "tests/epsilon/epsilon_test_support.h"

namespace epsilon_test {
namespace {

// An ssid-list answer for `request`, cut before each offset in `cuts`.
std::vector<std::string> ssidAnswerCut(const json& request, std::vector<size_t> cuts,
                                       const std::string& surplus = "") {
    const std::string whole =
        FakeCar::frame(FakeCar::okReply(request, {{"ssidList", {"net"}}})) + surplus;
    std::vector<std::string> pieces;
    size_t from = 0;
    cuts.push_back(whole.size());
    for (const size_t to : cuts) {
        pieces.push_back(whole.substr(from, to - from));
        from = to;
    }
    return pieces;
}

std::string bigEndian(uint32_t n) {
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
            static_cast<char>(n)};
}

} // namespace

// Each case answers one "get_ssid_list" in reads of its own. What is left of a failed answer
// reaches the client before the next case begins, and must not spoil that case's exchange.
TEST_F(EpsilonTest, AnswersAreReassembledFromTheirReadsAndBadFramesFailOnlyTheirExchange) {
    struct Case {
        const char* name;
        std::function<std::vector<std::string>(const json& request)> pieces;
        bool succeeds;
    };
    const auto cut = [](std::vector<size_t> cuts, std::string surplus = "") {
        return [=](const json& r) { return ssidAnswerCut(r, cuts, surplus); };
    };
    const std::string padding(AnswerFraming::kMaxTextLength, ' ');
    const Case cases[] = {
        {"whole", cut({}), true},
        {"length field alone first", cut({4}), true},
        {"length and part of the text", cut({10}), true},
        {"three pieces", cut({6, 20}), true},
        {"one byte first", cut({1}), false},
        {"two bytes first", cut({2}), false},
        {"three bytes first", cut({3}), false},
        {"surplus in the same read", cut({}, "{\"tag\":"), true},
        {"answered twice",
         [](const json& r) {
             const auto once = ssidAnswerCut(r, {});
             return std::vector<std::string>{once[0], once[0]};
         },
         true},
        {"rejected",
         [](const json& r) {
             return std::vector<std::string>{
                 FakeCar::frame(json{{"resp_status", 5}, {"tag", r["tag"]}})};
         },
         false},
        {"length zero", [](const json&) { return std::vector<std::string>{bigEndian(0)}; }, false},
        {"well-formed but above the length limit",
         [&padding](const json& r) {
             const std::string text = FakeCar::okReply(r, {{"ssidList", {"net"}}}).dump() + padding;
             return std::vector<std::string>{bigEndian(static_cast<uint32_t>(text.size())) + text};
         },
         false},
        {"whole again", cut({}), true},
    };
    ASSERT_EQ(connect(), MdvErrorNone);
    size_t handled = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        car->on("get_ssid_list",
                [&c](FakeCar& car, const json& request) { car.writeInReads(c.pieces(request)); });
        std::vector<std::string> names;
        EXPECT_EQ(client->getSsidList(names), c.succeeds);
        EXPECT_EQ(names, c.succeeds ? std::vector<std::string>{"net"} : std::vector<std::string>{});
        ASSERT_TRUE(car->waitForHandled("get_ssid_list", ++handled));
    }
    EXPECT_TRUE(client->isConnected());
}

TEST_F(EpsilonTest, AnswerWithAnotherTagFailsAndTheNextRequestTakesTheNextTag) {
    ASSERT_EQ(connect(), MdvErrorNone);
    car->on("get_ssid_list", [](FakeCar& car, const json& request) {
        json reply = FakeCar::okReply(request, {{"ssidList", json::array()}});
        reply["tag"] = request["tag"].get<int>() + 7;
        car.answer(reply);
    });
    std::vector<std::string> names{"untouched"};
    EXPECT_FALSE(client->getSsidList(names));
    EXPECT_EQ(names, std::vector<std::string>{"untouched"});

    car->on("get_ssid_list", [](FakeCar& car, const json& request) {
        car.answerOk(request, {{"ssidList", {"a"}}});
    });
    EXPECT_TRUE(client->getSsidList(names));
    const auto requests = car->requests("get_ssid_list");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].message["tag"], requests[0].message["tag"].get<int>() + 1);
}

// Each connect: the handshake with tag 0 announces the media socket's port, the "dummy" comes
// from that port, and the settings read follows with tag 1; a heartbeat comes later still.
TEST_F(EpsilonTest, EveryConnectHandshakesWithTagZeroFromTheMediaSocketsPort) {
    makeClient(briskTiming());
    for (size_t round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(connect(), MdvErrorNone);
        const auto dummy = car->receiveDatagram();
        ASSERT_TRUE(dummy.has_value());
        EXPECT_EQ(dummy->bytes, (std::vector<uint8_t>{'d', 'u', 'm', 'm', 'y'}));
        EXPECT_EQ(dummy->fromPort, realtimePort());
        ASSERT_TRUE(car->waitForHandled("heartbeat", round));
        client->disconnect();
    }
    const auto requests = car->requests();
    std::vector<int> handshakeTags;
    for (size_t i = 0; i < requests.size(); ++i) {
        const json& message = requests[i].message;
        if (message["command"] == "connection_handshake") {
            handshakeTags.push_back(message["tag"]);
            EXPECT_EQ(message.size(), 3u) << message; // realtimePort, command, tag
            ASSERT_LT(i + 1, requests.size());
            EXPECT_EQ(requests[i + 1].message["command"], "get_device_config");
            EXPECT_EQ(requests[i + 1].message["tag"], 1);
        } else if (message["command"] == "heartbeat") {
            EXPECT_GT(message["tag"], 1);
        }
    }
    EXPECT_EQ(handshakeTags, (std::vector<int>{0, 0}));
}

TEST_F(EpsilonTest, HeartbeatAnswersWithoutUsableDataKeepTheConnection) {
    makeClient(briskTiming());
    const json answers[] = {
        json::object(), {{"data", 5}}, {{"data", "not hex"}}, {{"data", "0A1b"}}};
    std::atomic<size_t> beat{0};
    car->on("heartbeat", [&](FakeCar& car, const json& request) {
        car.answerOk(request, answers[std::min<size_t>(beat++, std::size(answers) - 1)]);
    });
    ASSERT_EQ(connect(), MdvErrorNone);
    ASSERT_TRUE(car->waitForHandled("heartbeat", std::size(answers) + 1));
    EXPECT_TRUE(client->isConnected());
}

// The protocol's own time-outs: a heartbeat the car never answers fails after 5 s, and the
// failed heartbeat ends the connection.
TEST_F(EpsilonTest, SilentCarFailsTheHeartbeatAfterTheAnswerTimeOutAndEndsTheConnection) {
    makeClient(Timing{});
    car->on("heartbeat", nullptr);
    ASSERT_EQ(connect(), MdvErrorNone);
    ASSERT_TRUE(car->waitForHandled("heartbeat", 1));
    const Clock::time_point heartbeatAt = car->requests("heartbeat").at(0).at;
    ASSERT_TRUE(nettest::waitFor([&] { return !client->isConnected(); }));
    const double exchange = secondsSince(heartbeatAt);
    std::cout << "[ figures  ] silent car: connection lost " << exchange << " s after the beat\n";
    EXPECT_GE(exchange, 4.9);
    EXPECT_EQ(car->requests("heartbeat").size(), 1u);
}

// No heartbeat runs here: the close alone must end the session.
TEST_F(EpsilonTest, CarClosingTheControlConnectionEndsTheSessionAtOnce) {
    const int threadsBefore = nettest::threadCount();
    const int descriptorsBefore = nettest::openDescriptorCount();
    ASSERT_EQ(connect(), MdvErrorNone);
    const Clock::time_point closedAt = Clock::now();
    car->closeControl();
    ASSERT_TRUE(nettest::waitFor([&] { return !client->isConnected(); }));
    std::cout << "[ figures  ] closed control connection: session ended after "
              << secondsSince(closedAt) * 1000 << " ms\n";
    ASSERT_TRUE(nettest::waitFor([&] { return listener.disconnectedCalls == 1; }));
    client->disconnect();
    EXPECT_TRUE(nettest::threadsSettleAt(threadsBefore)) << nettest::threadCount();
    EXPECT_TRUE(descriptorsBackTo(descriptorsBefore));
}

namespace {
// Refuses to start the thread of the given name.
class ThreadRefusingClient final : public MdVideoClientEpsilon {
public:
    using MdVideoClientEpsilon::MdVideoClientEpsilon;
    std::string refuse;

protected:
    std::thread startThread(const char* name, std::function<void()> body) override {
        if (refuse == name) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        return MdVideoClientEpsilon::startThread(name, std::move(body));
    }
};
} // namespace

// A refused handshake or a thread that cannot start fails the connect, and what was started
// is taken down.
TEST_F(EpsilonTest, FailedConnectStepLeavesNothingBehind) {
    auto refusing = std::make_unique<ThreadRefusingClient>(&listener, quietTiming());
    const int threadsBefore = nettest::threadCount();
    const int descriptorsBefore = nettest::openDescriptorCount();
    car->on("connection_handshake", [](FakeCar& car, const json& request) {
        car.answer({{"resp_status", 1}, {"tag", request["tag"]}});
    });
    for (const char* name : {"", "zoderiv-media", "zoderiv-beat", "zoderiv-command"}) {
        SCOPED_TRACE(name);
        refusing->refuse = name;
        EXPECT_EQ(refusing->connect(nettest::address("127.0.0.1")), MdvErrorFailed);
        EXPECT_FALSE(refusing->isConnected());
        EXPECT_TRUE(nettest::threadsSettleAt(threadsBefore)) << nettest::threadCount();
        EXPECT_TRUE(descriptorsBackTo(descriptorsBefore));
        car->on("connection_handshake",
                [](FakeCar& car, const json& request) { car.answerOk(request); });
    }
    refusing->refuse.clear();
    EXPECT_EQ(refusing->connect(nettest::address("127.0.0.1")), MdvErrorNone);
    std::vector<std::string> names;
    EXPECT_TRUE(refusing->getSsidList(names));
}

} // namespace epsilon_test
