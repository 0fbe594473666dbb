// Loopback peers and probes for the socket layer tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "net/net_manager.h"

namespace nettest {

using Bytes = std::vector<uint8_t>;

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
    NetManager::ErrorCallback callback();
    std::vector<std::pair<int, int>> entries();
    size_t count(int code);

private:
    std::mutex mutex_;
    std::vector<std::pair<int, int>> entries_;
};

} // namespace nettest
