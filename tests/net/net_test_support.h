// Loopback peers and probes for the socket layer tests, written against the platform layer so
// that they run on Linux and Windows alike.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
// Winsock 2 must come before windows.h, and windows.h before tlhelp32.h.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>
// clang-format on
#else
#include <sys/socket.h>

#include "tests/support/thread_census.h"
#endif

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

#ifdef _WIN32
// The sockets among this process's handles. Not all handles: the threads library makes events
// for its mutexes when they are first contended and keeps them, and GetProcessHandleCount is a
// stub that answers 0 under Wine.
inline int openDescriptorCount() {
    struct HandleEntry {
        void* object;
        ULONG_PTR process;
        ULONG_PTR handle;
        ULONG access;
        USHORT backTrace;
        USHORT type;
        ULONG attributes;
        ULONG reserved;
    };
    struct HandleTable {
        ULONG_PTR count;
        ULONG_PTR reserved;
        HandleEntry entries[1];
    };
    using Query = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    constexpr int kExtendedHandleInformation = 64;
    static const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<ULONG_PTR> buffer(1 << 16);
    ULONG needed = 0;
    while (query(kExtendedHandleInformation, buffer.data(),
                 static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), &needed) != 0) {
        if (buffer.size() >= (1u << 24)) {
            return -1;
        }
        buffer.resize(buffer.size() * 2);
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    int count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
        const HandleEntry& entry = table->entries[i];
        int type = 0;
        int length = sizeof(type);
        count += entry.process == ::GetCurrentProcessId() &&
                         ::getsockopt(static_cast<SOCKET>(entry.handle), SOL_SOCKET, SO_TYPE,
                                      reinterpret_cast<char*>(&type), &length) == 0
                     ? 1
                     : 0;
    }
    return count;
}

inline int threadCount() {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(snapshot, &entry); more;
         more = ::Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId() ? 1 : 0;
    }
    ::CloseHandle(snapshot);
    return count;
}
#else
inline int openDescriptorCount() {
    return census::openDescriptorCount();
}

inline int threadCount() {
    return census::threadCount();
}
#endif

// Joined threads can stay listed for a moment, so a count expected to drop is waited for.
inline bool threadsSettleAt(int expected) {
    return waitFor([expected] { return threadCount() == expected; });
}

// Receives and accepts give up after 10 s.
inline int boundReceives(int socket) {
    setReceiveTimeout(socket, 10000);
    return socket;
}

// The peer's side of a TCP connection, as plain calls on its handle.
inline long peerSend(int socket, const std::string& text) {
    return sendStream(socket, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}
// Exactly `length` bytes, or empty when the connection ends or the 10 s receive bound passes.
inline Bytes peerReceive(int socket, size_t length) {
    Bytes received(length);
    for (size_t done = 0; done < length;) {
        const long n = receiveStream(socket, received.data() + done, length - done);
        if (n <= 0) {
            return {};
        }
        done += static_cast<size_t>(n);
    }
    return received;
}

// A bound socket on 127.0.0.1 with an ephemeral port: UDP, or TCP, listening when asked.
class LoopbackSocket {
public:
    LoopbackSocket(int type, bool listening)
        : fd_(boundReceives(createSocket(kFamilyIPv4, type, 0))) {
        sockaddr_storage bound = address("127.0.0.1");
        bindSocket(fd_, bound, addressLength(bound));
        if (listening) {
            ::listen(fd_, 16);
        }
        localAddress(fd_, bound);
        port_ = ntohs(reinterpret_cast<const sockaddr_in&>(bound).sin_port);
    }
    ~LoopbackSocket() { closeSocket(fd_); }
    uint16_t port() const { return port_; }

protected:
    int fd_ = -1;
    uint16_t port_ = 0;
};

struct TcpListener : LoopbackSocket {
    TcpListener() : LoopbackSocket(SOCK_STREAM, true) {}
    // The accepted socket, or -1.
    int accept() {
#ifdef _WIN32
        const SOCKET accepted = ::accept(fd_, nullptr, nullptr);
        return boundReceives(accepted == INVALID_SOCKET ? -1 : static_cast<int>(accepted));
#else
        return boundReceives(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
#endif
    }
};

struct UdpPeer : LoopbackSocket {
    UdpPeer() : LoopbackSocket(SOCK_DGRAM, false) {}
    bool sendTo(uint16_t port, const Bytes& bytes) {
        const sockaddr_storage to = address("127.0.0.1", port);
        return sendDatagram(fd_, bytes.data(), bytes.size(), to, addressLength(to)) ==
               static_cast<long>(bytes.size());
    }
    // One datagram, or empty when none arrives.
    Bytes receive() {
        uint8_t buffer[4096];
        const long received = receiveDatagram(fd_, buffer, sizeof(buffer));
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
    void closePeer() {
        if (peer >= 0) {
            closeSocket(std::exchange(peer, -1));
        }
    }
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

// Holds the poll thread inside the media handler, so that a test can act on a socket while the
// poll thread cannot read or drop it. Release it, and shut the manager down before this goes
// (the handler still takes the gate once more on its way out).
class PollThreadParking {
public:
    explicit PollThreadParking(Client& client) {
        client.media->setPacketHandler([this](Packet) {
            parked = true;
            std::lock_guard<std::mutex> wait(gate);
        });
        engaged = client.device.sendTo(client.media->localPort(client.udp), bytesOf("park")) &&
                  waitFor([this] { return parked.load(); });
    }
    bool holds() const { return engaged; }
    void release() { closed.unlock(); }

private:
    std::mutex gate;
    std::unique_lock<std::mutex> closed{gate};
    std::atomic<bool> parked{false};
    bool engaged = false;
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
