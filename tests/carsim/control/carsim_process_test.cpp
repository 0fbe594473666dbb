// The real simulator, each test in a network namespace of its own, reached on 127.0.0.1.
#include <fstream>
#include <map>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "carsim/probe/car_client.h"
#include "tests/support/car_process.h"

using namespace carclient;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

// Polls `condition` until it holds or `limit` has passed.
template <typename F>
bool eventually(F condition, milliseconds limit = milliseconds(10000)) {
    for (auto deadline = Clock::now() + limit; !condition(); ::usleep(20000)) {
        if (Clock::now() >= deadline) {
            return false;
        }
    }
    return true;
}

std::string hexOf(const std::string& bytes) {
    std::string hex;
    for (unsigned char c : bytes) {
        hex += "0123456789abcdef"[c >> 4];
        hex += "0123456789abcdef"[c & 15];
    }
    return hex;
}

bool noDatagramFor(int fd, milliseconds quiet) {
    // Drain what was in flight, then expect silence.
    while (receiveDatagram(fd, milliseconds(0))) {
    }
    return !receiveDatagram(fd, quiet).has_value();
}

// A car in its own namespace; the test's sockets are made inside that namespace too.
class CarTest : public ::testing::Test {
protected:
    void startCar(std::vector<std::string> args) {
        car = std::make_unique<CarProcess>(std::move(args));
        ASSERT_TRUE(car->ready());
        inside = std::make_unique<InNamespace>(car->namespaceFd());
    }
    void TearDown() override {
        inside.reset();
        car.reset();
    }
    TcpClient connect(uint16_t port = 8080) {
        TcpClient client;
        EXPECT_TRUE(client.connect(ipv4("127.0.0.1", port)));
        return client;
    }

    std::unique_ptr<CarProcess> car;
    std::unique_ptr<InNamespace> inside;
};

} // namespace

// The car serves one control connection at a time: a new one ends the old.
TEST_F(CarTest, ANewControlConnectionReplacesTheOldOne) {
    startCar({"--family", "sonix"});
    TcpClient control = connect();
    ASSERT_TRUE(sonixExchange(control, {{"type", "heartbeat"}}));
    TcpClient second = connect();
    EXPECT_TRUE(control.closedByPeer(milliseconds(5000)));
    EXPECT_EQ(sonixExchange(second, {{"type", "heartbeat"}}).value_or(json())["resp_status"], 0);
}

// Every message's exact bytes per endpoint, a firmware image among them.
TEST_F(CarTest, WireLogRecordsTheExactBytesOfEveryMessage) {
    char dir[] = "/tmp/carsim-test-XXXXXX";
    ASSERT_TRUE(::mkdtemp(dir));
    const std::string log = std::string(dir) + "/wire.jsonl";
    startCar({"--family", "sonix", "--log", log});
    TcpClient control = connect();
    std::string request = R"({"flag":"01","type":"mendrel_acknowledge_error"})";
    ASSERT_TRUE(control.send(request));
    ASSERT_TRUE(control.readOnce(milliseconds(5000)));
    Fd udp = udpSocket("127.0.0.1");
    sendDatagram(udp.get(), ipv4("127.0.0.1", 19267),
                 {'W', 'C', 'T', 'L', 0xFF, 0x7F, 0, 0, 0x01, 0xC0, 0xFF, 0xFF});
    sendDatagram(udp.get(), ipv4("127.0.0.1", 4501), {'d', 'u', 'm', 'm', 'y'});

    std::string image(100000, '\0');
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<char>(i * 7);
    }
    auto announce = sonixExchange(control, {{"type", "sendfwbin"}, {"fileSize", image.size()}});
    ASSERT_TRUE(announce);
    ASSERT_EQ((*announce)["resp_status"], 0);
    const int port = (*announce)["port"];
    connect(static_cast<uint16_t>(port)).send(image);

    // The first line of each endpoint, and the upload's bytes over all its lines.
    std::map<std::string, json> first;
    std::string uploaded;
    EXPECT_TRUE(eventually([&] {
        first.clear();
        uploaded.clear();
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            // The car may be writing the last line as we read it.
            json entry = json::parse(line, nullptr, false);
            if (entry.is_discarded()) {
                continue;
            }
            first.emplace(entry["endpoint"].get<std::string>(), entry);
            if (entry["endpoint"] == "tcp:" + std::to_string(port)) {
                uploaded += entry["hex"].get<std::string>();
            }
        }
        return first.count("udp:4501") && first.count("udp:19267") &&
               uploaded.size() == 2 * image.size();
    }));
    json tcp = first["tcp:8080"];
    EXPECT_EQ(tcp["hex"], hexOf(request));
    EXPECT_EQ(tcp["text"], request);
    EXPECT_EQ(tcp["peer"].get<std::string>().rfind("127.0.0.1:", 0), 0u);
    EXPECT_TRUE(tcp["t"].is_number());
    EXPECT_EQ(first["udp:19267"]["hex"], "5743544cff7f000001c0ffff");
    EXPECT_FALSE(first["udp:19267"].contains("text")) << "not printable";
    EXPECT_EQ(first["udp:4501"]["text"], "dummy");
    EXPECT_EQ(uploaded, hexOf(image));
    ::unlink(log.c_str());
    ::rmdir(dir);
}

TEST_F(CarTest, RtspSessionStartsVideoFromPort4500AndTeardownOrClosingTheControlStopsIt) {
    startCar({"--family", "sonix"});
    TcpClient control = connect();
    ASSERT_TRUE(sonixExchange(control, {{"type", "mendrel_get_mcu_version"}}));
    TcpClient rtsp = connect(554);
    ASSERT_TRUE(rtsp.send(
        "PLAY rtsp://192.168.99.1/media/stream2/ RTSP/1.0\r\nSession: 1\r\nCSeq: 5\r\n\r\n"));
    const std::string refused = rtsp.readOnce(milliseconds(5000)).value_or("");
    EXPECT_EQ(refused.find("RTSP/1.0 200 OK"), std::string::npos) << "no such session";
    EXPECT_NE(refused.find("CSeq: 5"), std::string::npos);

    Fd media = udpSocket("127.0.0.1");
    std::string error;
    auto session = rtspPlay(rtsp, localPort(media.get()), &error);
    ASSERT_TRUE(session) << error;
    EXPECT_NE(session->find(";timeout="), std::string::npos);
    sockaddr_in from{};
    ASSERT_TRUE(receiveDatagram(media.get(), milliseconds(5000), &from));
    EXPECT_EQ(ntohs(from.sin_port), 4500);
    EXPECT_EQ(countMediaDatagrams(media.get(), 20, milliseconds(10000)), 20);

    const std::string teardown = rtspTeardown(rtsp, *session).value_or("");
    EXPECT_NE(teardown.find("RTSP/1.0 200 OK"), std::string::npos);
    EXPECT_NE(teardown.find("CSeq: 6"), std::string::npos);
    EXPECT_TRUE(noDatagramFor(media.get(), milliseconds(500)));

    // Closing the control connection stops the video as well.
    ASSERT_TRUE(rtspPlay(rtsp, localPort(media.get())));
    ASSERT_EQ(countMediaDatagrams(media.get(), 5, milliseconds(10000)), 5);
    control = TcpClient();
    EXPECT_TRUE(eventually([&] { return noDatagramFor(media.get(), milliseconds(300)); }));
}

// Answers come after their length and echo their tag; video comes from port 8082 while
// enabled; SIGTERM ends the car cleanly.
TEST_F(CarTest, ZoderivAnswersCarryTheLengthAndTheTagAndVideoFlowsWhileEnabled) {
    startCar({"--family", "zoderiv"});
    TcpClient control = connect();
    Fd media = udpSocket("127.0.0.1");
    auto handshake = zoderivExchange(control, "connection_handshake", 0,
                                     {{"realtimePort", localPort(media.get())}});
    ASSERT_TRUE(handshake);
    EXPECT_EQ(handshake->body["tag"], 0);
    EXPECT_EQ(handshake->body["resp_status"], 0);
    EXPECT_EQ(handshake->length, handshake->body.dump().size());

    sendDatagram(media.get(), ipv4("127.0.0.1", 8082), {'d', 'u', 'm', 'm', 'y'});
    ASSERT_TRUE(zoderivExchange(control, "enable_video_streaming", 2, {{"enabled", true}}));
    sockaddr_in from{};
    ASSERT_TRUE(receiveDatagram(media.get(), milliseconds(5000), &from));
    EXPECT_EQ(ntohs(from.sin_port), 8082);
    EXPECT_EQ(countMediaDatagrams(media.get(), 20, milliseconds(10000)), 20);
    auto off = zoderivExchange(control, "enable_video_streaming", 3, {{"enabled", false}});
    ASSERT_TRUE(off);
    EXPECT_EQ(off->body["resp_status"], 0);
    EXPECT_TRUE(noDatagramFor(media.get(), milliseconds(500)));
    EXPECT_EQ(car->terminate(), 0);
}

TEST_F(CarTest, StreamToSendsVideoWithoutAnyControlSession) {
    // The namespace is the car's own, so a fixed port is free.
    startCar({"--family", "sonix", "--stream-to", "127.0.0.1:47000", "--gop", "10"});
    Fd media(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in local = ipv4("127.0.0.1", 47000);
    ASSERT_EQ(::bind(media.get(), reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    EXPECT_EQ(countMediaDatagrams(media.get(), 20, milliseconds(10000)), 20);
}
