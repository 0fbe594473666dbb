#include "carsim/probe/car_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace carclient {

using Clock = std::chrono::steady_clock;

Fd::~Fd() {
    if (fd >= 0) {
        ::close(fd);
    }
}

sockaddr_in ipv4(const std::string& address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

Fd udpSocket(const std::string& bindAddress) {
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in local = ipv4(bindAddress, 0);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        return Fd();
    }
    return fd;
}

uint16_t localPort(int fd) {
    sockaddr_in a{};
    socklen_t n = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
}

bool sendDatagram(int fd, const sockaddr_in& to, const Bytes& data) {
    return ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                    sizeof to) == static_cast<ssize_t>(data.size());
}

namespace {

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

bool waitReadable(int fd, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        int r = ::poll(&entry, 1, remainingMs(deadline));
        if (r > 0) {
            return true;
        }
        if (r == 0 || errno != EINTR) {
            return false;
        }
    }
}

} // namespace

std::optional<Bytes> receiveDatagram(int fd, milliseconds limit, sockaddr_in* from) {
    if (!waitReadable(fd, Clock::now() + limit)) {
        return std::nullopt;
    }
    Bytes buffer(65536);
    sockaddr_in peer{};
    socklen_t n = sizeof peer;
    ssize_t got =
        ::recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&peer), &n);
    if (got < 0) {
        return std::nullopt;
    }
    if (from != nullptr) {
        *from = peer;
    }
    buffer.resize(static_cast<size_t>(got));
    return buffer;
}

Bytes probe() {
    return {'M', 'D', 'P', 'N', 1, 0, 0, 0};
}

uint32_t adler(uint32_t start, const uint8_t* data, size_t size) {
    // By the definition: A = start_low + sum of bytes, B = start_high + sum of the A's.
    uint64_t a = start & 0xFFFF, b = start >> 16;
    for (size_t i = 0; i < size; ++i) {
        a += data[i];
        b += a;
    }
    return static_cast<uint32_t>(((b % 65521) << 16) | (a % 65521));
}

bool answerValid(const Bytes& answer, uint32_t adlerStart) {
    if (answer.size() < 116 || std::memcmp(answer.data(), "MDPR", 4) != 0 ||
        (answer[4] | answer[5] << 8) != 116) {
        return false;
    }
    uint32_t stored = answer[112] | answer[113] << 8 | answer[114] << 16 |
                      static_cast<uint32_t>(answer[115]) << 24;
    return stored == adler(adlerStart, answer.data(), 112);
}

std::string answerName(const Bytes& answer) {
    if (answer.size() < 112) {
        return {};
    }
    std::string name(reinterpret_cast<const char*>(answer.data() + 80), 32);
    return name.substr(0, name.find('\0'));
}

bool TcpClient::connect(const sockaddr_in& to, milliseconds limit) {
    auto deadline = Clock::now() + limit;
    // The car may still be binding its ports: retry refused connections until the deadline.
    do {
        Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
            socket = std::move(fd);
            return true;
        }
        ::usleep(20000);
    } while (Clock::now() < deadline);
    return false;
}

bool TcpClient::send(const std::string& bytes) {
    return ::send(socket.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

std::optional<std::string> TcpClient::readOnce(milliseconds limit) {
    if (!waitReadable(socket.get(), Clock::now() + limit)) {
        return std::nullopt;
    }
    char buffer[4096];
    ssize_t n = ::recv(socket.get(), buffer, sizeof buffer, 0);
    if (n <= 0) {
        return std::nullopt;
    }
    return std::string(buffer, static_cast<size_t>(n));
}

std::optional<std::string> TcpClient::readExactly(size_t size, milliseconds limit, int* reads) {
    auto deadline = Clock::now() + limit;
    std::string out;
    while (out.size() < size) {
        if (!waitReadable(socket.get(), deadline)) {
            return std::nullopt;
        }
        char buffer[4096];
        ssize_t n = ::recv(socket.get(), buffer, std::min(sizeof buffer, size - out.size()), 0);
        if (n <= 0) {
            return std::nullopt;
        }
        out.append(buffer, static_cast<size_t>(n));
        if (reads != nullptr) {
            ++*reads;
        }
    }
    return out;
}

bool TcpClient::closedByPeer(milliseconds limit) {
    auto deadline = Clock::now() + limit;
    while (waitReadable(socket.get(), deadline)) {
        char buffer[4096];
        ssize_t n = ::recv(socket.get(), buffer, sizeof buffer, 0);
        if (n <= 0) {
            return true;
        }
    }
    return false;
}

std::optional<nlohmann::json> sonixExchange(TcpClient& control, const nlohmann::json& request,
                                            milliseconds limit) {
    if (!control.send(request.dump())) {
        return std::nullopt;
    }
    auto answer = control.readOnce(limit);
    if (!answer) {
        return std::nullopt;
    }
    auto parsed = nlohmann::json::parse(*answer, nullptr, false);
    if (parsed.is_discarded()) {
        return std::nullopt;
    }
    return parsed;
}

std::optional<ZoderivAnswer> zoderivExchange(TcpClient& control, const std::string& command,
                                             int tag, nlohmann::json params, milliseconds limit) {
    params["command"] = command;
    params["tag"] = tag;
    if (!control.send(params.dump())) {
        return std::nullopt;
    }
    ZoderivAnswer answer;
    auto prefix = control.readExactly(4, limit, &answer.reads);
    if (!prefix) {
        return std::nullopt;
    }
    const auto* p = reinterpret_cast<const uint8_t*>(prefix->data());
    answer.length = static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    auto body = control.readExactly(answer.length, limit, &answer.reads);
    if (!body) {
        return std::nullopt;
    }
    answer.body = nlohmann::json::parse(*body, nullptr, false);
    if (answer.body.is_discarded()) {
        return std::nullopt;
    }
    return answer;
}

namespace {

const std::string kBase = "rtsp://192.168.99.1/media/stream2";
const std::string kAgent = "User-Agent: LIVE555 Streaming Media v2012.02.04\r\n";

std::optional<std::string> ask(TcpClient& rtsp, const std::string& request) {
    if (!rtsp.send(request)) {
        return std::nullopt;
    }
    return rtsp.readOnce(milliseconds(3000));
}

bool good(const std::optional<std::string>& answer) {
    return answer && answer->find("RTSP/1.0 200 OK") != std::string::npos;
}

} // namespace

std::optional<std::string> rtspPlay(TcpClient& rtsp, uint16_t rtpPort, std::string* error) {
    auto fail = [error](const std::string& why) {
        if (error != nullptr) {
            *error = why;
        }
        return std::nullopt;
    };
    if (!good(ask(rtsp, "OPTIONS " + kBase + " RTSP/1.0\r\n" + kAgent + "CSeq: 2\r\n\r\n"))) {
        return fail("OPTIONS");
    }
    if (!good(ask(rtsp, "DESCRIBE " + kBase + " RTSP/1.0\r\n" + kAgent +
                            "CSeq: 3\r\nAccept: application/sdp\r\n\r\n"))) {
        return fail("DESCRIBE");
    }
    std::string port = std::to_string(rtpPort);
    auto setup = ask(rtsp, "SETUP " + kBase + "/stream=0 RTSP/1.0\r\n" + kAgent +
                               "CSeq: 4\r\nTransport: RTP/AVP;unicast;fec;client_port=" + port +
                               "-" + std::to_string(rtpPort + 1) + "\r\n\r\n");
    if (!good(setup)) {
        return fail("SETUP");
    }
    size_t at = setup->find("Session: ");
    if (at == std::string::npos) {
        return fail("no Session");
    }
    at += 9;
    std::string session = setup->substr(at, setup->find("\r\n", at) - at);
    if (!good(ask(rtsp, "PLAY " + kBase + "/ RTSP/1.0\r\n" + kAgent + "Session: " + session +
                            "\r\nCSeq: 5\r\nRange: npt=0.000-\r\n\r\n"))) {
        return fail("PLAY");
    }
    return session;
}

std::optional<std::string> rtspTeardown(TcpClient& rtsp, const std::string& session) {
    return ask(rtsp, "TEARDOWN " + kBase + "/ RTSP/1.0\r\n" + kAgent + "Session: " + session +
                         "\r\nCSeq: 6\r\n\r\n");
}

int countMediaDatagrams(int fd, int count, milliseconds limit) {
    auto deadline = Clock::now() + limit;
    int seen = 0;
    while (seen < count) {
        auto datagram =
            receiveDatagram(fd, std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
        if (!datagram) {
            break;
        }
        const Bytes& d = *datagram;
        if (d.size() >= 16 && static_cast<size_t>(d[10] << 8 | d[11]) == d.size() - 16) {
            ++seen;
        }
    }
    return seen;
}

} // namespace carclient
