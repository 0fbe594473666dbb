#pragma once

// A small, independent client of the simulated car for tests and the probe tool: it speaks
// each endpoint's protocol from the client's side without sharing code with the simulator.
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace carclient {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

sockaddr_in ipv4(const std::string& address, uint16_t port);

class Fd {
public:
    explicit Fd(int fd = -1) : fd(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : fd(other.fd) { other.fd = -1; }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd, other.fd);
        return *this;
    }
    int get() const { return fd; }
    bool valid() const { return fd >= 0; }

private:
    int fd;
};

// UDP socket bound to an ephemeral port of `bindAddress`.
Fd udpSocket(const std::string& bindAddress = "0.0.0.0");
uint16_t localPort(int fd);
bool sendDatagram(int fd, const sockaddr_in& to, const Bytes& data);
std::optional<Bytes> receiveDatagram(int fd, milliseconds limit, sockaddr_in* from = nullptr);

// Discovery: probe and answer checks (checksum start value given, as a client would use it).
Bytes probe();
uint32_t adler(uint32_t start, const uint8_t* data, size_t size);
bool answerValid(const Bytes& answer, uint32_t adlerStart);
std::string answerName(const Bytes& answer);

class TcpClient {
public:
    bool connect(const sockaddr_in& to, milliseconds limit = milliseconds(5000));
    bool send(const std::string& bytes);
    // The bytes of one read, none on time-out or end of stream.
    std::optional<std::string> readOnce(milliseconds limit);
    // Exactly `size` bytes over as many reads as needed; counts the reads.
    std::optional<std::string> readExactly(size_t size, milliseconds limit, int* reads = nullptr);
    // True once the peer has closed the connection.
    bool closedByPeer(milliseconds limit);
    int fd() const { return socket.get(); }

private:
    Fd socket;
};

// Sonix: a compact JSON request, the answer from one read.
std::optional<nlohmann::json> sonixExchange(TcpClient& control, const nlohmann::json& request,
                                            milliseconds limit = milliseconds(5000));
// Zoderiv: request with command and tag, answer with its 4-byte big-endian length.
struct ZoderivAnswer {
    nlohmann::json body;
    uint32_t length = 0;
    int reads = 0;
};
std::optional<ZoderivAnswer> zoderivExchange(TcpClient& control, const std::string& command,
                                             int tag,
                                             nlohmann::json params = nlohmann::json::object(),
                                             milliseconds limit = milliseconds(5000));

// RTSP: OPTIONS to PLAY against `host`, with the RTP port given; the session on success.
std::optional<std::string> rtspPlay(TcpClient& rtsp, uint16_t rtpPort,
                                    std::string* error = nullptr);
std::optional<std::string> rtspTeardown(TcpClient& rtsp, const std::string& session);

// Waits for `count` datagrams that hold a well-formed 16-byte media header; returns how many came.
int countMediaDatagrams(int fd, int count, milliseconds limit);

} // namespace carclient
