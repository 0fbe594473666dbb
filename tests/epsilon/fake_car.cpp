#include "tests/epsilon/fake_car.h"

#include <arpa/inet.h>
#include <cerrno>
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

namespace epsilon_test {

namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int boundSocket(int type, uint16_t port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    const sockaddr_in address = loopback(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sameAddress(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_family == b.sin_family && a.sin_port == b.sin_port &&
           a.sin_addr.s_addr == b.sin_addr.s_addr;
}

// This process's descriptor whose local address is `address`: the client's end of a loopback
// connection whose far end is ours.
int descriptorBoundTo(const sockaddr_in& address) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(entry.path().filename().c_str());
        sockaddr_in local{};
        socklen_t length = sizeof(local);
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
            sameAddress(local, address)) {
            return fd;
        }
    }
    return -1;
}

} // namespace

FakeCar::FakeCar() {
    listenFd = boundSocket(SOCK_STREAM, 8080);
    if (listenFd >= 0) {
        ::listen(listenFd, 4);
    }
    mediaFd = nettest::boundReceives(boundSocket(SOCK_DGRAM, 8082));
    wakeFd = ::eventfd(0, EFD_CLOEXEC);
    thread = std::thread(&FakeCar::run, this);
}

FakeCar::~FakeCar() {
    stopping = true;
    const uint64_t one = 1;
    static_cast<void>(::write(wakeFd, &one, sizeof(one)));
    thread.join();
    {
        std::lock_guard lock(clientMutex);
        closeClientLocked();
    }
    for (const int fd : {listenFd, mediaFd, wakeFd}) {
        ::close(fd);
    }
}

void FakeCar::on(const std::string& command, Handler handler) {
    std::lock_guard lock(mutex);
    handlers[command] = std::move(handler);
}

json FakeCar::okReply(const json& request, const json& members) {
    json reply = members;
    reply["resp_status"] = 0;
    reply["tag"] = request.value("tag", -1);
    return reply;
}

json FakeCar::standardConfig() {
    return {{"autoChannel", 0},          {"channel", 6},    {"SSID", "car"},
            {"password", "pass"},        {"deviceMode", 1}, {"deviceSSID", "home"},
            {"devicePassword", "secret"}};
}

std::string FakeCar::frame(const std::string& text) {
    const auto n = static_cast<uint32_t>(text.size());
    const std::string length = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                                static_cast<char>(n >> 8), static_cast<char>(n)};
    return length + text;
}

void FakeCar::answer(const json& reply) {
    writeAll(frame(reply));
}

void FakeCar::answerOk(const json& request, const json& members) {
    answer(okReply(request, members));
}

void FakeCar::writeInReads(const std::vector<std::string>& pieces) {
    for (const std::string& piece : pieces) {
        if (!writeAll(piece) || !waitUntilClientRead()) {
            return;
        }
    }
}

void FakeCar::closeControl() {
    std::lock_guard lock(clientMutex);
    if (clientFd >= 0) {
        // The car's thread sees the end too and closes the descriptor itself.
        ::shutdown(clientFd, SHUT_RDWR);
    }
}

std::vector<FakeCar::Request> FakeCar::requests(const std::string& command) {
    std::lock_guard lock(mutex);
    std::vector<Request> matching;
    for (const Request& request : received) {
        if (command.empty() || request.message.value("command", "") == command) {
            matching.push_back(request);
        }
    }
    return matching;
}

bool FakeCar::waitForHandled(const std::string& command, size_t count) {
    return nettest::waitFor([&] {
        std::lock_guard lock(mutex);
        return handled[command] >= count;
    });
}

std::optional<FakeCar::Datagram> FakeCar::receiveDatagram() {
    uint8_t buffer[4096];
    sockaddr_in from{};
    socklen_t length = sizeof(from);
    const ssize_t n =
        ::recvfrom(mediaFd, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) {
        return std::nullopt;
    }
    return Datagram{{buffer, buffer + n}, ntohs(from.sin_port)};
}

bool FakeCar::sendDatagram(uint16_t toPort, const std::vector<uint8_t>& bytes) {
    const sockaddr_in to = loopback(toPort);
    return ::sendto(mediaFd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                    sizeof(to)) == static_cast<ssize_t>(bytes.size());
}

void FakeCar::run() noexcept {
    nameCurrentThread("fake-car");
    carsim::JsonSplitter splitter;
    while (!stopping) {
        int client = -1;
        {
            std::lock_guard lock(clientMutex);
            client = clientFd;
        }
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
                if (piece->isObject) {
                    handle(piece->bytes);
                }
            }
        }
    }
}

void FakeCar::handle(const std::string& text) {
    const json request = json::parse(text, nullptr, false);
    const std::string command = request.is_object() ? request.value("command", "") : "";
    std::optional<Handler> handler;
    {
        std::lock_guard lock(mutex);
        received.push_back({request, Clock::now()});
        if (const auto found = handlers.find(command); found != handlers.end()) {
            handler = found->second;
        }
    }
    if (handler) {
        if (*handler) {
            (*handler)(*this, request);
        }
    } else if (command == "get_device_config") {
        answerOk(request, standardConfig());
    } else if (command == "heartbeat") {
        answerOk(request, {{"data", "0001020304"}});
    } else {
        answerOk(request);
    }
    std::lock_guard lock(mutex);
    ++handled[command];
}

void FakeCar::acceptClient() {
    const int accepted = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard lock(clientMutex);
    closeClientLocked(); // a new connection replaces the old one, as on the car
    clientFd = accepted;
}

void FakeCar::closeClientLocked() {
    if (clientFd >= 0) {
        ::close(clientFd);
        clientFd = -1;
    }
}

bool FakeCar::writeAll(const std::string& bytes) {
    int client = -1;
    {
        std::lock_guard lock(clientMutex);
        client = clientFd;
    }
    for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(client, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Loopback delivers into the client's receive buffer before it acknowledges: once nothing is
// unacknowledged on our side and nothing is unread on the client's, the client has read it all.
bool FakeCar::waitUntilClientRead() {
    int client = -1;
    {
        std::lock_guard lock(clientMutex);
        client = clientFd;
    }
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

} // namespace epsilon_test
