// The RTSP dialogue against a scripted car on 127.0.0.1:554, through a real network manager.
#include <future>

#include <gtest/gtest.h>

#include "media/rtsp/rtsp_requests.h"
#include "media/rtsp/rtsp_session.h"
#include "tests/media/rtsp/fake_rtsp_car.h"
#include "tests/net/net_test_support.h"
#include "tests/support/bounded_wait.h"
#include "tests/support/private_network.h"

namespace {

using namespace rtsptest;
using std::chrono::milliseconds;
using Connections = FakeRtspCar::Connections;

milliseconds between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<milliseconds>(to - from);
}

bool allClosedBut(const Connections& connections, size_t open) {
    for (size_t i = 0; i < connections.size(); ++i) {
        if (connections[i].closedByClient == (i == open)) {
            return false;
        }
    }
    return true;
}

// A client's manager for the car at 127.0.0.1 with its media connection and two UDP sockets,
// and the session over them; the car answers as the test's script says.
class RtspSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testnet::havePrivateNetwork()) {
            GTEST_SKIP() << "needs a private network namespace";
        }
        ASSERT_TRUE(car.ok());
        ASSERT_GE(mediaSocket, 0);
        ASSERT_GE(auxSocket, 0);
    }
    int startInTime() {
        std::future<int> result =
            std::async(std::launch::async, [this] { return session->start(); });
        return bounded::get(result, "start");
    }
    void answerWith(FakeRtspCar::Script newScript) {
        std::lock_guard<std::mutex> guard(scriptMutex);
        script = std::move(newScript);
    }
    // The ports SETUP is to announce.
    std::string setupRequest() {
        return rtspSetupRequest(media->localPort(mediaSocket), media->localPort(auxSocket));
    }

    std::mutex scriptMutex;
    FakeRtspCar::Script script = goodAnswer; // guarded by scriptMutex
    FakeRtspCar car{[this](const Request& request) {
        std::lock_guard<std::mutex> guard(scriptMutex);
        return script(request);
    }};
    nettest::ErrorLog errors;
    std::shared_ptr<NetManager> manager = nettest::makeManager(errors);
    std::shared_ptr<NetManager::NetConnection> media = manager->createConnection();
    int mediaSocket = nettest::openSocket(*media, NetManager::kSocketUdp, 4500);
    int auxSocket = nettest::openSocket(*media, NetManager::kSocketUdp, 4501);
    std::unique_ptr<RtspSession> session =
        std::make_unique<RtspSession>(manager, media, mediaSocket, auxSocket);
};

TEST_F(RtspSessionTest, StartRunsTheDialogueOnOneConnectionAndStopTearsItDownThere) {
    ASSERT_EQ(startInTime(), 0);
    for (int index : {0, 1}) {
        const auto datagram = car.datagram(index);
        ASSERT_TRUE(datagram);
        EXPECT_EQ(datagram->first, "dummy");
        EXPECT_EQ(datagram->second, media->localPort(index == 0 ? mediaSocket : auxSocket));
    }
    EXPECT_EQ(session->sessionTag(), "1A2B3C4D;timeout=60");
    EXPECT_EQ(
        car.connections().at(0).requests,
        (std::vector<std::string>{rtspOptionsRequest(), rtspOptionsRequest(), rtspDescribeRequest(),
                                  setupRequest(), rtspPlayRequest("1A2B3C4D;timeout=60")}));

    EXPECT_EQ(session->stop(), 0);
    const auto connections = car.connections();
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(connections[0].requests.back(), rtspTeardownRequest("1A2B3C4D;timeout=60"));
    EXPECT_FALSE(connections[0].closedByClient);

    session->close();
    EXPECT_TRUE(car.waitFor([](const Connections& c) { return c[0].closedByClient; }));
    EXPECT_EQ(session->stop(), -1);
    EXPECT_EQ(car.connections()[0].requests.size(), 6u);
}

TEST_F(RtspSessionTest, OptionsAnswersCountPerStatusAndTheWaitIsBounded) {
    // Both answers in one write: the session goes on after one read.
    answerWith([](const Request& request) {
        if (request.method == "OPTIONS") {
            return request.repeat == 0 ? std::string() : okAnswer(request) + okAnswer(request);
        }
        return goodAnswer(request);
    });
    ASSERT_EQ(startInTime(), 0);
    ASSERT_EQ(car.connections().size(), 1u);

    // Connection 1 misses one answer, connection 3 misses one and then keeps sending other
    // bytes; each attempt ends, the next one succeeds.
    answerWith([](const Request& request) {
        if (request.connection % 2 == 1 && request.method == "OPTIONS" && request.repeat == 1) {
            return std::string();
        }
        return goodAnswer(request);
    });
    car.trickle(3, "x\r\n", milliseconds(500));
    EXPECT_EQ(session->stop(), 0);
    ASSERT_EQ(startInTime(), 0);
    EXPECT_EQ(session->stop(), 0);
    ASSERT_EQ(startInTime(), 0);
    const auto c = car.connections();
    ASSERT_EQ(c.size(), 5u);
    EXPECT_EQ(c[1].count("DESCRIBE"), 0);
    EXPECT_EQ(c[3].count("DESCRIBE"), 0);
    EXPECT_GE(between(c[1].accepted, c[2].accepted), milliseconds(2900));
    EXPECT_LT(between(c[1].accepted, c[2].accepted), milliseconds(4500));
    EXPECT_GE(between(c[3].accepted, c[4].accepted), milliseconds(5900));
    EXPECT_LT(between(c[3].accepted, c[4].accepted), milliseconds(8000));
    EXPECT_TRUE(car.waitFor([](const Connections& c) { return allClosedBut(c, 4); }));
}

TEST_F(RtspSessionTest, DescribeIsGoodWhenTheStatusOccursAnywhere) {
    answerWith([](const Request& request) {
        if (request.method == "DESCRIBE") {
            return "v=0\r\nleft over from before\r\n" + okAnswer(request);
        }
        return goodAnswer(request);
    });
    EXPECT_EQ(startInTime(), 0);
    EXPECT_EQ(car.connections().size(), 1u);
}

// Rows run in turn on one car; each successful row's connection is closed by the next start.
TEST_F(RtspSessionTest, SessionValueIsSentBackWholeAndItsAbsenceFailsWithoutPlay) {
    const struct {
        std::string setupHeaders;
        std::string tag; // empty: every attempt fails
    } rows[] = {
        {"Session: 1A2B3C4D;timeout=60\r\n", "1A2B3C4D;timeout=60"},
        {"Session: x{{rtpSessionTag}}y\r\n", "x{{rtpSessionTag}}y"},
        {"Transport: RTP/AVP;unicast\r\n", ""},
        {"Session: \r\nCSeq: 4\r\n", ""},
    };
    size_t seen = 0;
    for (const auto& row : rows) {
        answerWith([headers = row.setupHeaders](const Request& request) {
            return request.method == "SETUP" ? okAnswer(request, headers) : goodAnswer(request);
        });
        const auto tagged = "Session: " + row.tag + "\r\n";
        if (row.tag.empty()) {
            EXPECT_EQ(startInTime(), -1) << row.setupHeaders;
            const auto c = car.connections();
            ASSERT_EQ(c.size(), seen + 4);
            for (size_t i = seen; i < c.size(); ++i) {
                EXPECT_EQ(c[i].count("SETUP"), 1);
                EXPECT_EQ(c[i].count("PLAY"), 0);
            }
            seen = c.size();
            continue;
        }
        ASSERT_EQ(startInTime(), 0) << row.setupHeaders;
        EXPECT_EQ(session->sessionTag(), row.tag);
        EXPECT_EQ(session->stop(), 0);
        const auto c = car.connections();
        ASSERT_EQ(c.size(), seen + 1);
        const auto& requests = c.back().requests;
        ASSERT_EQ(requests.size(), 6u);
        EXPECT_NE(requests[4].find(tagged), std::string::npos) << requests[4];
        EXPECT_EQ(requests[4], rtspPlayRequest(row.tag));
        EXPECT_NE(requests[5].find(tagged), std::string::npos) << requests[5];
        EXPECT_EQ(requests[5], rtspTeardownRequest(row.tag));
        seen = c.size();
    }
    EXPECT_TRUE(car.waitFor([&](const Connections& c) { return allClosedBut(c, seen); }));
}

// A 404 to DESCRIBE fails an attempt before SETUP; the fourth attempt's connect is refused and
// its code is the result.
TEST_F(RtspSessionTest, FourFailedAttemptsReturnTheLastCodeAndLeaveNoSocketBehind) {
    car.acceptAtMost(3);
    answerWith([](const Request& request) {
        return request.method == "DESCRIBE"
                   ? "RTSP/1.0 404 Not Found\r\nCSeq: 3\r\n\r\n" + std::string()
                   : goodAnswer(request);
    });
    EXPECT_EQ(startInTime(), kNetConnectFailed);
    EXPECT_TRUE(car.waitFor([](const Connections& c) {
        return c.size() == 3 && c[0].closedByClient && c[1].closedByClient && c[2].closedByClient;
    }));
    for (const auto& connection : car.connections()) {
        EXPECT_EQ(connection.count("SETUP"), 0);
    }
    // The two media sockets and six more make the manager's eight.
    auto other = manager->createConnection();
    for (int i = 0; i < 6; ++i) {
        EXPECT_GE(nettest::openSocket(*other, NetManager::kSocketUdp, 9), 0) << i;
    }
}

TEST_F(RtspSessionTest, TeardownWithASilentCarFailsAfterTwoSeconds) {
    answerWith([](const Request& request) {
        return request.method == "TEARDOWN" ? std::string() : goodAnswer(request);
    });
    ASSERT_EQ(startInTime(), 0);
    const auto before = Clock::now();
    EXPECT_EQ(session->stop(), -1);
    EXPECT_GE(between(before, Clock::now()), milliseconds(1900));
    EXPECT_LT(between(before, Clock::now()), milliseconds(2800));
}

TEST_F(RtspSessionTest, CloseEndsAWaitingStartAndNoLaterAttemptOpens) {
    answerWith([](const Request&) { return std::string(); });
    std::future<int> result = std::async(std::launch::async, [this] { return session->start(); });
    ASSERT_TRUE(car.waitFor(
        [](const Connections& c) { return c.size() == 1 && c[0].count("OPTIONS") == 2; }));
    session->close();
    EXPECT_NE(bounded::get(result, "start"), 0);
    EXPECT_TRUE(car.waitFor([](const Connections& c) { return c[0].closedByClient; }));
    EXPECT_EQ(car.connections().size(), 1u);
}

} // namespace
