#include "net_test_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace nettest {

namespace {
uint16_t boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

sockaddr_in loopbackOn(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool readable(int fd) {
    pollfd slot{fd, POLLIN, 0};
    return poll(&slot, 1, 10000) == 1;
}

int countEntries(const char* path) {
    DIR* dir = opendir(path);
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(dir);
    return count;
}
} // namespace

sockaddr_storage loopbackAddress() {
    sockaddr_storage address;
    resolveAddress("127.0.0.1", address);
    return address;
}

sockaddr_storage anyAddress() {
    sockaddr_storage address;
    resolveAddress("0.0.0.0", address);
    return address;
}

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Less the descriptor of the directory listing itself.
int openDescriptorCount() {
    return countEntries("/proc/self/fd") - 1;
}

int threadCount() {
    // A sanitizer runtime starts a helper thread of its own with the process's first thread;
    // start one first so that helper is already there in every count.
    static const bool runtimeSettled = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)runtimeSettled;
    return countEntries("/proc/self/task");
}

TcpListener::TcpListener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopbackOn(0);
    bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    listen(fd_, 16);
    port_ = boundPort(fd_);
}

TcpListener::~TcpListener() {
    close(fd_);
}

int TcpListener::accept() {
    if (!readable(fd_)) {
        return -1;
    }
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

bool sendAllBytes(int fd, const Bytes& bytes) {
    size_t position = 0;
    while (position < bytes.size()) {
        const ssize_t sent =
            ::send(fd, bytes.data() + position, bytes.size() - position, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        position += static_cast<size_t>(sent);
    }
    return true;
}

Bytes receiveBytes(int fd, size_t count) {
    Bytes bytes;
    uint8_t buffer[4096];
    while (bytes.size() < count && readable(fd)) {
        const ssize_t received = ::recv(fd, buffer, sizeof(buffer), 0);
        if (received <= 0) {
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + received);
    }
    return bytes;
}

void closeWithReset(int fd) {
    const linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    close(fd);
}

UdpPeer::UdpPeer() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopbackOn(0);
    bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    port_ = boundPort(fd_);
}

UdpPeer::~UdpPeer() {
    close(fd_);
}

bool UdpPeer::sendTo(uint16_t port, const Bytes& bytes) {
    const sockaddr_in address = loopbackOn(port);
    return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                    sizeof(address)) == static_cast<ssize_t>(bytes.size());
}

Bytes UdpPeer::receive() {
    if (!readable(fd_)) {
        return {};
    }
    uint8_t buffer[4096];
    const ssize_t received = ::recv(fd_, buffer, sizeof(buffer), 0);
    return received > 0 ? Bytes(buffer, buffer + received) : Bytes{};
}

NetManager::ErrorCallback ErrorLog::callback() {
    return [this](int socket, unsigned code) {
        std::lock_guard<std::mutex> guard(mutex_);
        entries_.emplace_back(socket, static_cast<int>(code));
    };
}

ErrorLog::Entries ErrorLog::entries() {
    std::lock_guard<std::mutex> guard(mutex_);
    return entries_;
}

size_t ErrorLog::count(int code) {
    std::lock_guard<std::mutex> guard(mutex_);
    size_t n = 0;
    for (const auto& entry : entries_) {
        n += entry.second == code ? 1 : 0;
    }
    return n;
}

bool ErrorLog::waitForReports(size_t n) {
    return waitFor([&] { return entries().size() == n; });
}

bool ErrorLog::waitForReports(int code, size_t n) {
    return waitFor([&] { return count(code) == n; });
}

std::shared_ptr<NetManager> makeManager(ErrorLog& errors) {
    return std::make_shared<NetManager>(anyAddress(), loopbackAddress(), errors.callback());
}

int openUdp(Connection& connection, const UdpPeer& device) {
    int socket = -1;
    return connection.open(NetManager::kSocketUdp, device.port(), socket) == 0 ? socket : -1;
}

TcpLink connectTcp(Connection& connection, TcpListener& listener) {
    TcpLink link;
    if (connection.open(NetManager::kSocketTcp, listener.port(), link.socket) != 0) {
        link.socket = -1;
        return link;
    }
    link.peer = listener.accept();
    return link;
}

ClientConnections::ClientConnections(ErrorLog& errors)
    : manager(makeManager(errors)), control(manager->createConnection()),
      media(manager->createConnection()) {}

bool ClientConnections::openMedia(const UdpPeer& device) {
    udp = openUdp(*media, device);
    return udp >= 0;
}

bool ClientConnections::openControl(TcpListener& listener) {
    link = connectTcp(*control, listener);
    return link.ok();
}

bool sendToSocket(UdpPeer& device, Connection& connection, int socket, const Bytes& payload) {
    return device.sendTo(connection.localPort(socket), payload);
}

Packet relay(UdpPeer& device, Connection& connection, int socket, const Bytes& payload) {
    Packet packet;
    if (!sendToSocket(device, connection, socket, payload) || !connection.receive(packet, 10000)) {
        return nullptr;
    }
    return packet;
}

} // namespace nettest
