// Loopback peers and probes for the socket layer tests.
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "net/net_manager.h"

namespace nettest {

using Bytes = std::vector<uint8_t>;
using Packet = std::unique_ptr<NetManager::NetPacket>;
using Connection = NetManager::NetConnection;

inline sockaddr_storage address(const char* host, uint16_t port = 0) {
    sockaddr_storage result;
    resolveAddress(host, result);
    setAddressPort(result, port);
    return result;
}

inline Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Polls `condition` until it holds or 10 s pass.
inline bool waitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
    }
    return true;
}

// Less the descriptor of the directory listing itself.
inline int openDescriptorCount() {
    namespace fs = std::filesystem;
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), {})) - 1;
}

inline int threadCount() {
    // A sanitizer runtime starts a helper thread of its own with the process's first thread;
    // start one first so that helper is already there in every count.
    static const int settled = (std::thread([] {}).join(), 0);
    namespace fs = std::filesystem;
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/task"), {})) + settled;
}

// Receives and accepts give up after 10 s.
inline int boundReceives(int fd) {
    const timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    return fd;
}

// A bound socket on 127.0.0.1 with an ephemeral port: UDP, or TCP, listening when asked.
class LoopbackSocket {
public:
    LoopbackSocket(int type, bool listening)
        : fd_(boundReceives(socket(AF_INET, type | SOCK_CLOEXEC, 0))) {
        sockaddr_storage bound = address("127.0.0.1");
        socklen_t length = sizeof(bound);
        bind(fd_, reinterpret_cast<const sockaddr*>(&bound), addressLength(bound));
        if (listening) {
            listen(fd_, 16);
        }
        getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length);
        port_ = ntohs(reinterpret_cast<const sockaddr_in&>(bound).sin_port);
    }
    ~LoopbackSocket() { close(fd_); }
    uint16_t port() const { return port_; }

protected:
    int fd_ = -1;
    uint16_t port_ = 0;
};

struct TcpListener : LoopbackSocket {
    TcpListener() : LoopbackSocket(SOCK_STREAM, true) {}
    // The accepted socket, or -1.
    int accept() { return boundReceives(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)); }
};

struct UdpPeer : LoopbackSocket {
    UdpPeer() : LoopbackSocket(SOCK_DGRAM, false) {}
    bool sendTo(uint16_t port, const Bytes& bytes) {
        const sockaddr_storage to = address("127.0.0.1", port);
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                        addressLength(to)) == static_cast<ssize_t>(bytes.size());
    }
    // One datagram, or empty when none arrives.
    Bytes receive() {
        uint8_t buffer[4096];
        const ssize_t received = ::recv(fd_, buffer, sizeof(buffer), 0);
        return received > 0 ? Bytes(buffer, buffer + received) : Bytes{};
    }
};

// Thread-safe record of the manager's error callback: socket handle and code of each report.
struct ErrorLog {
    using Entries = std::vector<std::pair<int, int>>;
    NetManager::ErrorCallback callback() {
        return [this](int socket, unsigned code) {
            std::lock_guard<std::mutex> guard(mutex);
            recorded.emplace_back(socket, static_cast<int>(code));
            if (throwAfterRecording) {
                throw std::runtime_error("callback failure");
            }
        };
    }
    Entries entries() {
        std::lock_guard<std::mutex> guard(mutex);
        return recorded;
    }
    // Whether the reports become exactly `expected` within 10 s.
    bool waitFor(const Entries& expected) {
        return nettest::waitFor([&] { return entries() == expected; });
    }

    std::atomic<bool> throwAfterRecording{false};
    std::mutex mutex;
    Entries recorded; // guarded by mutex
};

// A manager for the loopback device that reports to `errors`.
inline std::shared_ptr<NetManager> makeManager(ErrorLog& errors) {
    return std::make_shared<NetManager>(address("0.0.0.0"), address("127.0.0.1"),
                                        errors.callback());
}

// The handle of a new socket of `connection` to `port`, or -1 when the open fails.
inline int openSocket(Connection& connection, int kind, uint16_t port) {
    int socket = -1;
    return connection.open(kind, port, socket) == 0 ? socket : -1;
}
inline int openUdp(Connection& connection, const UdpPeer& device) {
    return openSocket(connection, NetManager::kSocketUdp, device.port());
}

// Sends `payload` from `device` to the bound port of the UDP socket `socket`, then returns the
// packet `connection` receives within 10 s, or null.
inline Packet relay(UdpPeer& device, Connection& connection, int socket, const Bytes& payload) {
    Packet packet;
    if (!device.sendTo(connection.localPort(socket), payload) ||
        !connection.receive(packet, 10000)) {
        return nullptr;
    }
    return packet;
}

// A manager with the two connections a client keeps to its loopback device: media with a UDP
// socket, then control with a TCP socket whose other end the device has accepted.
struct Client {
    ~Client() { closePeer(); }
    bool ok() const { return udp >= 0 && tcp >= 0 && peer >= 0; }
    void closePeer() { close(std::exchange(peer, -1)); }
    bool sendOnControl(const char* text) {
        return control->send(NetManager::makePacket(tcp, bytesOf(text)));
    }

    ErrorLog errors;
    TcpListener listener;
    UdpPeer device;
    const int descriptorsBefore = openDescriptorCount();
    std::shared_ptr<NetManager> manager = makeManager(errors);
    std::shared_ptr<Connection> control = manager->createConnection();
    std::shared_ptr<Connection> media = manager->createConnection();
    const int udp = openUdp(*media, device);
    const int tcp = openSocket(*control, NetManager::kSocketTcp, listener.port());
    int peer = tcp >= 0 ? listener.accept() : -1;
};

class ClientFixture : public ::testing::Test, protected Client {
protected:
    void SetUp() override {
        ASSERT_TRUE(ok());
        // The control socket and its accepted end are the last two descriptors.
        descriptorsWithoutControl = openDescriptorCount() - 2;
    }
    int descriptorsWithoutControl = 0;
};

} // namespace nettest
