#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/socket.h>

#include "carsim/endpoint/service_thread.h"
#include "carsim/endpoint/wire_log.h"

namespace carsim {

// One UDP port of the car: a receive thread that logs every datagram and hands it on.
class UdpEndpoint {
public:
    using Handler =
        std::function<void(int fd, const uint8_t* data, size_t size, const sockaddr_storage& peer)>;

    UdpEndpoint(uint16_t port, WireLog& log, Handler handler = {});

    bool start() {
        return service.serveUdp(port, [this] { run(); });
    }
    void stop() { service.stop(); }
    // The bound socket; valid between start and stop (the video is sent from it).
    int fd() const { return service.fd(); }

private:
    void run() noexcept;

    const uint16_t port;
    WireLog& log;
    Handler handler;
    ServiceThread service; // last member: its thread stops before the rest goes
};

} // namespace carsim
