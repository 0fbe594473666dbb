#include "carsim/endpoint/service_thread.h"

#include <cstdio>

namespace carsim {

ServiceThread::~ServiceThread() {
    stop();
}

bool ServiceThread::serveTcp(uint16_t port, Body body) {
    if (!serve(listenTcp(port), std::move(body))) {
        std::fprintf(stderr, "carsim: cannot listen on TCP port %u\n", port);
        return false;
    }
    return true;
}

bool ServiceThread::serveUdp(uint16_t port, Body body) {
    if (!serve(bindUdp(port), std::move(body))) {
        std::fprintf(stderr, "carsim: cannot bind UDP port %u\n", port);
        return false;
    }
    return true;
}

bool ServiceThread::serve(UniqueFd next, Body body) {
    if (!next.valid()) {
        return false;
    }
    socket = std::move(next);
    stopFlag = false;
    thread = std::thread(std::move(body));
    return true;
}

void ServiceThread::stop() {
    stopFlag = true;
    if (thread.joinable()) {
        thread.join();
    }
    socket.reset();
}

} // namespace carsim
