#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <thread>

#include "carsim/socket_util.h"
#include "carsim/wire_log.h"

namespace carsim {

// One UDP port of the car: a receive thread that logs every datagram and hands it on.
// Lifecycle: start (bind, thread), stop (signal, join, close).
class UdpEndpoint {
public:
    using Handler =
        std::function<void(int fd, const uint8_t* data, size_t size, const sockaddr_storage& peer)>;

    UdpEndpoint(uint16_t port, WireLog& log, Handler handler = {});
    ~UdpEndpoint();
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    bool start();
    void stop();
    // The bound socket; valid between start and stop (the video is sent from it).
    int fd() const { return socket.get(); }

private:
    void run() noexcept;

    const uint16_t port;
    WireLog& log;
    Handler handler;
    UniqueFd socket;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

} // namespace carsim
