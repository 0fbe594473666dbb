#include "tests/support/car_peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "carsim/control/json_splitter.h"
#include "net/platform/socket_platform.h"
#include "tests/net/net_test_support.h"

namespace cartest {

namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// This process's descriptor whose local address is `address`: the client's end of a loopback
// connection whose far end is ours.
int descriptorBoundTo(const sockaddr_in& address) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(entry.path().filename().c_str());
        sockaddr_in local{};
        socklen_t length = sizeof(local);
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
            local.sin_family == address.sin_family && local.sin_port == address.sin_port &&
            local.sin_addr.s_addr == address.sin_addr.s_addr) {
            return fd;
        }
    }
    return -1;
}

} // namespace

int boundLoopbackSocket(int type, uint16_t port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    const sockaddr_in address = loopback(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    if (type == SOCK_STREAM) {
        ::listen(fd, 8);
    }
    return fd;
}

CarPeer::CarPeer(uint16_t controlPort, uint16_t datagramPort, Handler handle)
    : listenFd(boundLoopbackSocket(SOCK_STREAM, controlPort)),
      datagramFd(nettest::boundReceives(boundLoopbackSocket(SOCK_DGRAM, datagramPort))),
      wakeFd(::eventfd(0, EFD_CLOEXEC)), handle(std::move(handle)), thread(&CarPeer::run, this) {}

CarPeer::~CarPeer() {
    stopping = true;
    const uint64_t one = 1;
    static_cast<void>(::write(wakeFd, &one, sizeof(one)));
    thread.join();
    {
        std::lock_guard lock(clientMutex);
        closeClientLocked();
    }
    for (const int fd : {listenFd, datagramFd, wakeFd}) {
        ::close(fd);
    }
}

std::vector<CarPeer::Request> CarPeer::requests() {
    std::lock_guard lock(mutex);
    return received;
}

bool CarPeer::send(const std::string& bytes) {
    const int client = currentClient();
    for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(client, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return client >= 0;
}

// Loopback delivers into the client's receive buffer before it acknowledges: once nothing is
// unacknowledged on our side and nothing is unread on the client's, the client has read it all.
bool CarPeer::waitUntilClientRead() {
    const int client = currentClient();
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    if (::getpeername(client, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        return false;
    }
    const int clientEnd = descriptorBoundTo(peer);
    return clientEnd >= 0 && nettest::waitFor([&] {
               int unacknowledged = -1;
               int unread = -1;
               return ::ioctl(client, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0 &&
                      ::ioctl(clientEnd, FIONREAD, &unread) == 0 && unread == 0;
           });
}

void CarPeer::closeControl() {
    std::lock_guard lock(clientMutex);
    if (clientFd >= 0) {
        // The car's thread sees the end too and closes the descriptor itself.
        ::shutdown(clientFd, SHUT_RDWR);
    }
}

std::optional<CarPeer::Datagram> CarPeer::receiveDatagram() {
    uint8_t buffer[4096];
    sockaddr_in from{};
    socklen_t length = sizeof(from);
    const ssize_t n = ::recvfrom(datagramFd, buffer, sizeof(buffer), 0,
                                 reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) {
        return std::nullopt;
    }
    return Datagram{{buffer, buffer + n}, ntohs(from.sin_port)};
}

bool CarPeer::sendDatagram(uint16_t toPort, const std::vector<uint8_t>& bytes) {
    const sockaddr_in to = loopback(toPort);
    return ::sendto(datagramFd, bytes.data(), bytes.size(), 0,
                    reinterpret_cast<const sockaddr*>(&to),
                    sizeof(to)) == static_cast<ssize_t>(bytes.size());
}

void CarPeer::run() noexcept {
    nameCurrentThread("car-peer");
    carsim::JsonSplitter splitter;
    while (!stopping) {
        const int client = currentClient();
        pollfd fds[3] = {{wakeFd, POLLIN, 0}, {listenFd, POLLIN, 0}, {client, POLLIN, 0}};
        if (::poll(fds, client >= 0 ? 3 : 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {
            continue; // the destructor's wake-up
        }
        if (fds[1].revents != 0) {
            acceptClient();
            splitter = carsim::JsonSplitter();
            continue;
        }
        if (client >= 0 && fds[2].revents != 0) {
            char buffer[4096];
            const ssize_t n = ::recv(client, buffer, sizeof(buffer), 0);
            if (n <= 0) {
                std::lock_guard lock(clientMutex);
                closeClientLocked();
                continue;
            }
            splitter.append(buffer, static_cast<size_t>(n));
            while (const auto piece = splitter.next()) {
                if (!piece->isObject) {
                    continue;
                }
                Request request{piece->bytes, nlohmann::json::parse(piece->bytes, nullptr, false),
                                Clock::now()};
                {
                    std::lock_guard lock(mutex);
                    received.push_back(request);
                }
                try {
                    handle(request);
                } catch (...) {
                    // A request the car cannot handle goes unanswered, as a real car's would.
                }
            }
        }
    }
}

void CarPeer::acceptClient() {
    const int accepted = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard lock(clientMutex);
    closeClientLocked(); // a new connection replaces the old one, as on the car
    clientFd = accepted;
}

void CarPeer::closeClientLocked() {
    if (clientFd >= 0) {
        ::close(clientFd);
        clientFd = -1;
    }
}

int CarPeer::currentClient() {
    std::lock_guard lock(clientMutex);
    return clientFd;
}

} // namespace cartest
