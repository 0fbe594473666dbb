// The real simulator, each test in a network namespace of its own, reached on 127.0.0.1.
#include <fstream>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "carsim/probe/car_client.h"
#include "car_process.h"

using namespace carclient;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

// Polls `condition` until it holds or `limit` has passed.
template <typename F>
bool eventually(F condition, milliseconds limit = milliseconds(10000)) {
    auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        ::usleep(20000);
    }
    return true;
}

// A wire-log file in a directory of its own, removed with it.
class TemporaryLog {
public:
    TemporaryLog() {
        char pattern[] = "/tmp/carsim-test-XXXXXX";
        dir = ::mkdtemp(pattern);
        path = dir + "/wire.jsonl";
    }
    ~TemporaryLog() {
        ::unlink(path.c_str());
        ::rmdir(dir.c_str());
    }
    std::string dir;
    std::string path;
};

std::vector<json> readLog(const std::string& path) {
    std::vector<json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(json::parse(line));
    }
    return lines;
}

std::string hexOf(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
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
    TcpClient connectControl() {
        TcpClient control;
        EXPECT_TRUE(control.connect(ipv4("127.0.0.1", 8080)));
        return control;
    }

    std::unique_ptr<CarProcess> car;
    std::unique_ptr<InNamespace> inside;
};

bool noDatagramFor(int fd, milliseconds quiet) {
    // Drain what was in flight, then expect silence.
    while (receiveDatagram(fd, milliseconds(0))) {
    }
    return !receiveDatagram(fd, quiet).has_value();
}

} // namespace

TEST_F(CarTest, SonixControlAnswersEachRequestWholeAndReflectsTheMicrocontrollerFlags) {
    startCar({"--family", "sonix", "--hw-type", "2", "--fw-major", "128"});
    TcpClient control = connectControl();
    auto mcu = sonixExchange(control, {{"type", "mendrel_get_mcu_version"}});
    ASSERT_TRUE(mcu);
    EXPECT_EQ((*mcu)["hwType"], 2);
    EXPECT_EQ((*mcu)["fwMajor"], 128);
    EXPECT_EQ((*mcu)["resp_status"], 0);

    auto written = sonixExchange(control, {{"type", "setrecordlength"}, {"minutes", 7}});
    ASSERT_TRUE(written);
    EXPECT_EQ((*written)["resp_status"], 0);
    auto read = sonixExchange(control, {{"type", "getrecordstatus"}});
    ASSERT_TRUE(read);
    EXPECT_EQ((*read)["length"], 7);

    // A request cut in two is answered once it is complete.
    ASSERT_TRUE(control.send(R"({"type":"getsd)"));
    EXPECT_FALSE(control.readOnce(milliseconds(200)));
    ASSERT_TRUE(control.send(R"(space"})"));
    auto sd = control.readOnce(milliseconds(5000));
    ASSERT_TRUE(sd);
    EXPECT_EQ(json::parse(*sd)["type"], "getsdspace");

    // Two requests in one write get two answers, each in a write of its own.
    ASSERT_TRUE(control.send(R"({"type":"heartbeat"}{"type":"getvideostatus"})"));
    std::string both;
    EXPECT_TRUE(eventually([&] {
        if (auto more = control.readOnce(milliseconds(100))) {
            both += *more;
        }
        return both.find("getvideostatus") != std::string::npos;
    }));
    EXPECT_NE(both.find(R"("type":"heartbeat")"), std::string::npos);
}

TEST_F(CarTest, ANewControlConnectionReplacesTheOldOne) {
    startCar({"--family", "sonix"});
    TcpClient first = connectControl();
    ASSERT_TRUE(sonixExchange(first, {{"type", "heartbeat"}}));
    TcpClient second = connectControl();
    EXPECT_TRUE(first.closedByPeer(milliseconds(5000)));
    auto answer = sonixExchange(second, {{"type", "heartbeat"}});
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["resp_status"], 0);
}

TEST_F(CarTest, FirmwareImageIsReadToItsEndAndInstallsForAWhile) {
    TemporaryLog temporary;
    const std::string& log = temporary.path;
    startCar({"--family", "sonix", "--fw-install-seconds", "0.3", "--log", log});
    TcpClient control = connectControl();
    std::string image(100000, '\0');
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<char>(i * 7);
    }
    auto announce = sonixExchange(control, {{"type", "sendfwbin"}, {"fileSize", image.size()}});
    ASSERT_TRUE(announce);
    ASSERT_EQ((*announce)["resp_status"], 0);
    int port = (*announce)["port"];
    {
        TcpClient upload;
        ASSERT_TRUE(upload.connect(ipv4("127.0.0.1", static_cast<uint16_t>(port))));
        ASSERT_TRUE(upload.send(image));
    }
    auto upgrade = sonixExchange(control, {{"type", "upgradefw"}});
    ASSERT_TRUE(upgrade);
    EXPECT_EQ((*upgrade)["resp_status"], 0);
    auto first = sonixExchange(control, {{"type", "mendrel_fwupdatestatus"}});
    ASSERT_TRUE(first);
    EXPECT_EQ((*first)["resp_status"], 1);
    EXPECT_TRUE(eventually([&] {
        auto status = sonixExchange(control, {{"type", "mendrel_fwupdatestatus"}});
        return status && (*status)["resp_status"] == 0;
    }));

    std::string logged;
    for (const json& line : readLog(log)) {
        if (line["endpoint"] == "tcp:" + std::to_string(port)) {
            logged += line["hex"].get<std::string>();
        }
    }
    EXPECT_EQ(logged, hexOf(image));
}

TEST_F(CarTest, RtspSessionStartsVideoToTheRtpPortAndTeardownStopsIt) {
    startCar({"--family", "sonix"});
    TcpClient control = connectControl();
    ASSERT_TRUE(sonixExchange(control, {{"type", "mendrel_get_mcu_version"}}));
    Fd media = udpSocket("127.0.0.1");
    TcpClient rtsp;
    ASSERT_TRUE(rtsp.connect(ipv4("127.0.0.1", 554)));
    std::string error;
    auto session = rtspPlay(rtsp, localPort(media.get()), &error);
    ASSERT_TRUE(session) << error;
    EXPECT_NE(session->find(";timeout="), std::string::npos);

    sockaddr_in from{};
    ASSERT_TRUE(receiveDatagram(media.get(), milliseconds(5000), &from));
    EXPECT_EQ(ntohs(from.sin_port), 4500);
    EXPECT_EQ(countMediaDatagrams(media.get(), 20, milliseconds(10000)), 20);

    auto teardown = rtspTeardown(rtsp, *session);
    ASSERT_TRUE(teardown);
    EXPECT_NE(teardown->find("RTSP/1.0 200 OK"), std::string::npos);
    EXPECT_NE(teardown->find("CSeq: 6"), std::string::npos);
    EXPECT_TRUE(noDatagramFor(media.get(), milliseconds(500)));
}

TEST_F(CarTest, ClosingTheControlConnectionStopsTheVideo) {
    startCar({"--family", "sonix"});
    Fd media = udpSocket("127.0.0.1");
    TcpClient rtsp;
    {
        TcpClient control = connectControl();
        ASSERT_TRUE(sonixExchange(control, {{"type", "heartbeat"}}));
        ASSERT_TRUE(rtsp.connect(ipv4("127.0.0.1", 554)));
        ASSERT_TRUE(rtspPlay(rtsp, localPort(media.get())));
        ASSERT_EQ(countMediaDatagrams(media.get(), 5, milliseconds(10000)), 5);
    }
    EXPECT_TRUE(eventually([&] { return noDatagramFor(media.get(), milliseconds(300)); }));
}

TEST_F(CarTest, RtspRefusesPlayForAnotherSession) {
    startCar({"--family", "sonix"});
    TcpClient rtsp;
    ASSERT_TRUE(rtsp.connect(ipv4("127.0.0.1", 554)));
    ASSERT_TRUE(rtsp.send(
        "PLAY rtsp://192.168.99.1/media/stream2/ RTSP/1.0\r\nSession: 1\r\nCSeq: 5\r\n\r\n"));
    auto answer = rtsp.readOnce(milliseconds(5000));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->find("RTSP/1.0 200 OK"), std::string::npos);
    EXPECT_NE(answer->find("CSeq: 5"), std::string::npos);
}

TEST_F(CarTest, ZoderivAnswersCarryTheLengthAndTheTagAndStreamWhileEnabled) {
    startCar({"--family", "zoderiv"});
    TcpClient control = connectControl();
    Fd media = udpSocket("127.0.0.1");
    auto handshake = zoderivExchange(control, "connection_handshake", 0,
                                     {{"realtimePort", localPort(media.get())}});
    ASSERT_TRUE(handshake);
    EXPECT_EQ(handshake->body["tag"], 0);
    EXPECT_EQ(handshake->body["resp_status"], 0);
    EXPECT_EQ(handshake->length, handshake->body.dump().size());

    auto beat = zoderivExchange(control, "heartbeat", 1);
    ASSERT_TRUE(beat);
    EXPECT_EQ(beat->body["tag"], 1);
    EXPECT_TRUE(beat->body["data"].is_string());

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
}

TEST_F(CarTest, ZoderivSplitAnswersArriveInSeveralReadsWithTheLengthFirst) {
    startCar({"--family", "zoderiv", "--split-answers"});
    TcpClient control = connectControl();
    auto config = zoderivExchange(control, "get_device_config", 5);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->body["tag"], 5);
    EXPECT_TRUE(config->body.contains("SSID"));
    EXPECT_GE(config->reads, 3);
}

TEST_F(CarTest, WireLogRecordsTheExactBytesOfEveryMessagePerEndpoint) {
    TemporaryLog temporary;
    const std::string& log = temporary.path;
    startCar({"--family", "sonix", "--log", log});
    TcpClient control = connectControl();
    std::string request = R"({"flag":"01","type":"mendrel_acknowledge_error"})";
    ASSERT_TRUE(control.send(request));
    ASSERT_TRUE(control.readOnce(milliseconds(5000)));
    Fd udp = udpSocket("127.0.0.1");
    Bytes wheel = {'W', 'C', 'T', 'L', 0xFF, 0x7F, 0, 0, 0x01, 0xC0, 0xFF, 0xFF};
    sendDatagram(udp.get(), ipv4("127.0.0.1", 19267), wheel);
    sendDatagram(udp.get(), ipv4("127.0.0.1", 4501), {'d', 'u', 'm', 'm', 'y'});

    auto find = [&](const std::string& endpoint) {
        for (const json& line : readLog(log)) {
            if (line["endpoint"] == endpoint) {
                return line;
            }
        }
        return json();
    };
    ASSERT_TRUE(
        eventually([&] { return !find("udp:4501").is_null() && !find("udp:19267").is_null(); }));
    json tcp = find("tcp:8080");
    EXPECT_EQ(tcp["hex"], hexOf(request));
    EXPECT_EQ(tcp["text"], request);
    EXPECT_EQ(tcp["peer"].get<std::string>().rfind("127.0.0.1:", 0), 0u);
    EXPECT_TRUE(tcp["t"].is_number());
    json wheelLine = find("udp:19267");
    EXPECT_EQ(wheelLine["hex"], "5743544cff7f000001c0ffff");
    EXPECT_FALSE(wheelLine.contains("text")) << "not printable";
    EXPECT_EQ(find("udp:4501")["text"], "dummy");
}

TEST_F(CarTest, HeartbeatsStopBeingAnsweredOnSchedule) {
    startCar({"--family", "sonix", "--heartbeat-stop", "0.3"});
    TcpClient control = connectControl();
    ASSERT_TRUE(sonixExchange(control, {{"type", "heartbeat"}}));
    EXPECT_TRUE(eventually([&] {
        return !sonixExchange(control, {{"type", "heartbeat"}}, milliseconds(300));
    }));
    auto other = sonixExchange(control, {{"type", "getsdspace"}});
    ASSERT_TRUE(other);
    EXPECT_EQ((*other)["type"], "getsdspace");
}

TEST_F(CarTest, ControlConnectionIsClosedOnSchedule) {
    startCar({"--family", "zoderiv", "--close-control", "0.3"});
    TcpClient control = connectControl();
    ASSERT_TRUE(zoderivExchange(control, "heartbeat", 0));
    EXPECT_TRUE(control.closedByPeer(milliseconds(10000)));
}

TEST_F(CarTest, AVanishedCarFallsSilentAndComesBack) {
    startCar({"--family", "sonix", "--vanish", "0.5:1"});
    Fd socket = udpSocket("127.0.0.1");
    auto answers = [&] {
        sendDatagram(socket.get(), ipv4("127.0.0.1", 19266), probe());
        return receiveDatagram(socket.get(), milliseconds(150)).has_value();
    };
    EXPECT_TRUE(eventually([&] { return !answers(); }));
    TcpClient refused;
    EXPECT_FALSE(refused.connect(ipv4("127.0.0.1", 8080), milliseconds(0)));
    EXPECT_TRUE(eventually([&] { return answers(); }));
    TcpClient control = connectControl();
    EXPECT_TRUE(sonixExchange(control, {{"type", "heartbeat"}}));
}

TEST_F(CarTest, EndsCleanlyOnSigterm) {
    startCar({"--family", "zoderiv"});
    TcpClient control = connectControl();
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
