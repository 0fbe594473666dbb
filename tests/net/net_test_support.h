// Loopback peers and probes for the socket layer tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "net/net_manager.h"

namespace nettest {

using Bytes = std::vector<uint8_t>;
using Packet = std::unique_ptr<NetManager::NetPacket>;
using Connection = NetManager::NetConnection;

sockaddr_storage loopbackAddress();
sockaddr_storage anyAddress();
Bytes bytesOf(const std::string& text);

// Polls `condition` until it holds or `limit` passes.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

int openDescriptorCount();
int threadCount();

// A listening TCP socket on 127.0.0.1 with an ephemeral port.
class TcpListener {
public:
    TcpListener();
    ~TcpListener();
    uint16_t port() const { return port_; }
    // The accepted socket, or -1 when none arrives within 10 s.
    int accept();

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// Blocking helpers on a plain socket.
bool sendAllBytes(int fd, const Bytes& bytes);
Bytes receiveBytes(int fd, size_t count);
void closeWithReset(int fd);

// A UDP socket on 127.0.0.1 with an ephemeral port.
class UdpPeer {
public:
    UdpPeer();
    ~UdpPeer();
    uint16_t port() const { return port_; }
    bool sendTo(uint16_t port, const Bytes& bytes);
    // One datagram, or empty when none arrives within 10 s.
    Bytes receive();

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// Thread-safe record of the manager's error callback.
class ErrorLog {
public:
    // Socket handle and code of one report.
    using Entry = std::pair<int, int>;
    using Entries = std::vector<Entry>;

    NetManager::ErrorCallback callback();
    Entries entries();
    size_t count(int code);
    // Whether, within 10 s, exactly `n` reports (of `code`) have arrived.
    bool waitForReports(size_t n);
    bool waitForReports(int code, size_t n);

private:
    std::mutex mutex_;
    Entries entries_;
};

// A manager for the loopback device that reports to `errors`.
std::shared_ptr<NetManager> makeManager(ErrorLog& errors);

// The handle of a new UDP socket of `connection` for `device`, or -1 when the open fails.
int openUdp(Connection& connection, const UdpPeer& device);

// A TCP socket opened through a connection, and its other end as the listener accepted it.
struct TcpLink {
    int socket = -1; // the manager's handle
    int peer = -1;   // the device's end, which the test closes
    bool ok() const { return socket >= 0 && peer >= 0; }
};
// Opens a TCP socket of `connection` to `listener` and accepts it; not ok() when either fails.
TcpLink connectTcp(Connection& connection, TcpListener& listener);

// A manager with the two connections a client keeps to its device: control, which speaks TCP,
// and media, which takes UDP.
struct ClientConnections {
    explicit ClientConnections(ErrorLog& errors);
    // Each false when the open (or the accept) fails.
    bool openMedia(const UdpPeer& device);
    bool openControl(TcpListener& listener);

    std::shared_ptr<NetManager> manager;
    std::shared_ptr<Connection> control;
    std::shared_ptr<Connection> media;
    int udp = -1; // the media socket
    TcpLink link; // the control socket
};

// Sends `payload` from `device` to the bound port of the UDP socket `socket`.
bool sendToSocket(UdpPeer& device, Connection& connection, int socket, const Bytes& payload);
// The same, then the packet `connection` receives within 10 s, or null.
Packet relay(UdpPeer& device, Connection& connection, int socket, const Bytes& payload);

} // namespace nettest
