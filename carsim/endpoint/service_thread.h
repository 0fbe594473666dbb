#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "carsim/endpoint/socket_util.h"

namespace carsim {

// One socket of the car and the thread that serves it. The body runs until stopping() turns
// true; stop signals, joins, and only then closes the socket, which the body reads until then.
class ServiceThread {
public:
    using Body = std::function<void()>;

    ServiceThread() = default;
    ~ServiceThread();
    ServiceThread(const ServiceThread&) = delete;
    ServiceThread& operator=(const ServiceThread&) = delete;

    // Listens on TCP `port` (or binds UDP `port`) and serves it; says so on stderr and returns
    // false when the port cannot be had.
    bool serveTcp(uint16_t port, Body body);
    bool serveUdp(uint16_t port, Body body);
    // Serves a socket made elsewhere; false, and nothing started, when it is not valid.
    bool serve(UniqueFd socket, Body body);
    void stop();

    int fd() const { return socket.get(); }
    bool stopping() const { return stopFlag; }
    // True from a successful start until stop, even after the body has ended.
    bool started() const { return thread.joinable(); }
    // For a body done with its socket early; only the body may call it.
    void closeSocket() { socket.reset(); }

private:
    UniqueFd socket;
    std::atomic<bool> stopFlag{false};
    std::thread thread;
};

} // namespace carsim
