#include "carsim/udp_endpoint.h"

#include <cstdio>
#include <exception>
#include <poll.h>
#include <vector>

namespace carsim {

UdpEndpoint::UdpEndpoint(uint16_t port, WireLog& log, Handler handler)
    : port(port), log(log), handler(std::move(handler)) {}

UdpEndpoint::~UdpEndpoint() {
    stop();
}

bool UdpEndpoint::start() {
    socket = bindUdp(port);
    if (!socket.valid()) {
        std::fprintf(stderr, "carsim: cannot bind UDP port %u\n", port);
        return false;
    }
    stopping = false;
    thread = std::thread([this] { run(); });
    return true;
}

void UdpEndpoint::stop() {
    stopping = true;
    if (thread.joinable()) {
        thread.join();
    }
    // Closed only after the join: the thread reads from it until then.
    socket.reset();
}

void UdpEndpoint::run() noexcept {
    const std::string endpoint = "udp:" + std::to_string(port);
    std::vector<uint8_t> buffer(65536);
    while (!stopping) {
        pollfd entry{socket.get(), POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0) {
            continue;
        }
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        ssize_t n = ::recvfrom(socket.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (n < 0) {
            continue;
        }
        log.record(endpoint, peer, buffer.data(), static_cast<size_t>(n));
        if (!handler) {
            continue;
        }
        try {
            handler(socket.get(), buffer.data(), static_cast<size_t>(n), peer);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "carsim: %s: %s\n", endpoint.c_str(), e.what());
        }
    }
}

} // namespace carsim
