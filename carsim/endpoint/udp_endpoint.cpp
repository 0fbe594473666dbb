#include "carsim/endpoint/udp_endpoint.h"

#include <cstdio>
#include <exception>
#include <poll.h>
#include <vector>

namespace carsim {

UdpEndpoint::UdpEndpoint(uint16_t port, WireLog& log, Handler handler)
    : port(port), log(log), handler(std::move(handler)) {}

void UdpEndpoint::run() noexcept {
    const std::string endpoint = "udp:" + std::to_string(port);
    std::vector<uint8_t> buffer(65536);
    while (!service.stopping()) {
        pollfd entry{service.fd(), POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0) {
            continue;
        }
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        ssize_t n = ::recvfrom(service.fd(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (n < 0) {
            continue;
        }
        log.record(endpoint, peer, buffer.data(), static_cast<size_t>(n));
        if (!handler) {
            continue;
        }
        try {
            handler(service.fd(), buffer.data(), static_cast<size_t>(n), peer);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "carsim: %s: %s\n", endpoint.c_str(), e.what());
        }
    }
}

} // namespace carsim
