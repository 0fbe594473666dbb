#include "carsim/endpoint/socket_util.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace carsim {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset(other.release());
    }
    return *this;
}

int UniqueFd::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

namespace {

sockaddr_in anyAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    return address;
}

UniqueFd bound(int type, uint16_t port) {
    UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        return {};
    }
    int one = 1;
    // A car that vanishes and comes back must get its fixed ports again at once.
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = anyAddress(port);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return {};
    }
    return fd;
}

} // namespace

UniqueFd bindUdp(uint16_t port) {
    UniqueFd fd = bound(SOCK_DGRAM, port);
    if (fd.valid()) {
        int one = 1;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    }
    return fd;
}

UniqueFd listenTcp(uint16_t port) {
    UniqueFd fd = bound(SOCK_STREAM, port);
    if (fd.valid() && ::listen(fd.get(), 8) != 0) {
        return {};
    }
    return fd;
}

uint16_t localPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.ss_family != AF_INET) {
        return 0;
    }
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

bool sendAll(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string formatAddress(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        return std::string(text) + ":" + std::to_string(ntohs(v4->sin_port));
    }
    if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6->sin6_port));
    }
    return "?";
}

socklen_t addressLength(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

sockaddr_storage withPort(const sockaddr_storage& address, uint16_t port) {
    sockaddr_storage result = address;
    if (result.ss_family == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&result)->sin_port = htons(port);
    } else if (result.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&result)->sin6_port = htons(port);
    }
    return result;
}

bool parseHostPort(const std::string& text, sockaddr_storage& out) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 >= text.size()) {
        return false;
    }
    std::string host = text.substr(0, colon);
    std::string portText = text.substr(colon + 1);
    char* end = nullptr;
    long port = std::strtol(portText.c_str(), &end, 10);
    if (*end != '\0' || port < 1 || port > 65535) {
        return false;
    }
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &v4.sin_addr) != 1) {
        return false;
    }
    out = {};
    std::memcpy(&out, &v4, sizeof v4);
    return true;
}

} // namespace carsim
