// carsim_probe: checks a simulated car from the host side of a test network.
//
//   carsim_probe discover [ADDR]...          probe (default 192.168.99.1 and 192.168.99.255);
//                                            prints each valid answer; fails when none came
//   carsim_probe stream ADDR [DATAGRAMS]     discover ADDR, set up its video as its family does,
//                                            take DATAGRAMS (default 100) media packets, rebuild
//                                            their frames and decode them; fails unless every
//                                            picture is 1280 x 720 and at least one came out
#include <cstdio>
#include <string>

#include "carsim/probe/car_client.h"
#include "carsim/probe/wire_check.h"

using namespace carclient;

namespace {

struct Found {
    int kind = -1;
    std::string name;
    std::string from;
};

// Four probe passes 250 ms apart, as a client's discovery does, so a car still binding its
// ports when the first probe goes out is found all the same.
std::vector<Found> discover(const std::vector<std::string>& targets) {
    Fd socket = udpSocket();
    std::vector<Found> found;
    for (int pass = 0; pass < 4; ++pass) {
        for (const auto& target : targets) {
            sendDatagram(socket.get(), ipv4(target, 19266), probe());
        }
        sockaddr_in from{};
        while (auto answer = receiveDatagram(socket.get(), milliseconds(250), &from)) {
            if (!answerValid(*answer, 0)) {
                continue;
            }
            char address[32];
            std::snprintf(address, sizeof address, "%u.%u.%u.%u", from.sin_addr.s_addr & 255,
                          from.sin_addr.s_addr >> 8 & 255, from.sin_addr.s_addr >> 16 & 255,
                          from.sin_addr.s_addr >> 24);
            Found car{(*answer)[7], answerName(*answer), address};
            bool known = false;
            for (const auto& f : found) {
                known = known || (f.name == car.name && f.from == car.from);
            }
            if (!known) {
                found.push_back(car);
            }
        }
    }
    return found;
}

struct StreamCheck {
    int datagrams = 0;
    int frames = 0;
    int pictures = 0;
    int wrongSize = 0;
};

// Rebuilds the frames of the received datagrams (any k of their k + m packets), cuts them at
// their start codes, drops the 32-byte telemetry trailer from Sonix slices and decodes them.
StreamCheck receiveAndDecode(int fd, int wanted, bool sonix) {
    StreamCheck check;
    std::vector<Bytes> datagrams;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + milliseconds(10000);
    while (static_cast<int>(datagrams.size()) < wanted) {
        auto datagram =
            receiveDatagram(fd, std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
        if (!datagram) {
            break;
        }
        if (wirecheck::parseWire(*datagram)) {
            datagrams.push_back(std::move(*datagram));
        }
    }
    check.datagrams = static_cast<int>(datagrams.size());
    wirecheck::Decoder decoder;
    if (!decoder.ok()) {
        return check;
    }
    for (const auto& [number, packets] : wirecheck::groupByFrame(datagrams)) {
        const auto frame = wirecheck::rebuildFrame(packets);
        if (!frame) {
            continue; // its packets were cut off by the end of the capture
        }
        ++check.frames;
        for (const auto& picture : decoder.decode(wirecheck::decoderInput(*frame, sonix))) {
            ++check.pictures;
            check.wrongSize += picture.width == 1280 && picture.height == 720 ? 0 : 1;
        }
    }
    return check;
}

int report(const StreamCheck& check, const std::string& from, int wanted) {
    std::printf("%d media datagrams from %s, %d frames rebuilt, %d pictures decoded, %d not "
                "1280x720\n",
                check.datagrams, from.c_str(), check.frames, check.pictures, check.wrongSize);
    return check.datagrams >= wanted && check.pictures > 0 && check.wrongSize == 0 ? 0 : 1;
}

int streamSonix(const std::string& address, int wanted) {
    TcpClient control;
    if (!control.connect(ipv4(address, 8080)) ||
        !sonixExchange(control, {{"type", "mendrel_get_mcu_version"}})) {
        std::fprintf(stderr, "no control answer\n");
        return 1;
    }
    Fd media = udpSocket();
    sendDatagram(media.get(), ipv4(address, 4500), {'d', 'u', 'm', 'm', 'y'});
    TcpClient rtsp;
    std::string error;
    auto session = rtsp.connect(ipv4(address, 554)) ? rtspPlay(rtsp, localPort(media.get()), &error)
                                                    : std::nullopt;
    if (!session) {
        std::fprintf(stderr, "RTSP failed at %s\n", error.c_str());
        return 1;
    }
    const StreamCheck check = receiveAndDecode(media.get(), wanted, true);
    rtspTeardown(rtsp, *session);
    return report(check, address + ":4500", wanted);
}

int streamZoderiv(const std::string& address, int wanted) {
    TcpClient control;
    Fd media = udpSocket();
    nlohmann::json handshake = {{"realtimePort", localPort(media.get())}};
    if (!control.connect(ipv4(address, 8080)) ||
        !zoderivExchange(control, "connection_handshake", 0, handshake)) {
        std::fprintf(stderr, "no handshake\n");
        return 1;
    }
    sendDatagram(media.get(), ipv4(address, 8082), {'d', 'u', 'm', 'm', 'y'});
    auto enabled = zoderivExchange(control, "enable_video_streaming", 1, {{"enabled", true}});
    if (!enabled || enabled->body.value("resp_status", -1) != 0) {
        std::fprintf(stderr, "streaming not enabled\n");
        return 1;
    }
    const StreamCheck check = receiveAndDecode(media.get(), wanted, false);
    zoderivExchange(control, "enable_video_streaming", 2, {{"enabled", false}});
    return report(check, address + ":8082", wanted);
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "discover") {
        std::vector<std::string> targets(argv + 2, argv + argc);
        if (targets.empty()) {
            targets = {"192.168.99.1", "192.168.99.255"};
        }
        auto found = discover(targets);
        for (const auto& f : found) {
            std::printf("kind=%d name=%s from=%s\n", f.kind, f.name.c_str(), f.from.c_str());
        }
        return found.empty() ? 1 : 0;
    }
    if (mode == "stream" && argc >= 3) {
        int wanted = argc > 3 ? std::atoi(argv[3]) : 100;
        auto found = discover({argv[2]});
        if (found.empty()) {
            std::fprintf(stderr, "no discovery answer from %s\n", argv[2]);
            return 1;
        }
        return found[0].kind == 1 ? streamZoderiv(argv[2], wanted) : streamSonix(argv[2], wanted);
    }
    std::fprintf(stderr, "usage: carsim_probe discover [ADDR]... | stream ADDR [DATAGRAMS]\n");
    return 2;
}
