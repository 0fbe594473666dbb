#include "carsim/sonix/firmware_receiver.h"

#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <vector>

namespace carsim {

namespace {
// A client that announced an image but never connects does not hold the port for ever.
constexpr auto kAcceptLimit = std::chrono::seconds(30);
} // namespace

FirmwareReceiver::FirmwareReceiver(CarState& state, WireLog& log) : state(state), log(log) {}

uint16_t FirmwareReceiver::start(int64_t announcedSize) {
    stop();
    UniqueFd listener = listenTcp(0);
    uint16_t port = listener.valid() ? localPort(listener.get()) : 0;
    if (port == 0) {
        return 0;
    }
    state.update([&](CarSettings& s) {
        s.firmware.announcedSize = announcedSize;
        s.firmware.receivedSize = 0;
        s.firmware.transferComplete = false;
    });
    {
        std::lock_guard lock(doneMutex);
        done = false;
    }
    service.serve(std::move(listener), [this, port] { run(port); });
    return port;
}

bool FirmwareReceiver::waitDone(std::chrono::milliseconds limit) {
    std::unique_lock lock(doneMutex);
    if (!service.started()) {
        return done; // no transfer was ever started
    }
    return doneChanged.wait_for(lock, limit, [this] { return done; });
}

void FirmwareReceiver::run(uint16_t port) noexcept {
    const std::string endpoint = "tcp:" + std::to_string(port);
    auto acceptUntil = std::chrono::steady_clock::now() + kAcceptLimit;
    UniqueFd connection;
    sockaddr_storage peer{};
    while (!service.stopping() && !connection.valid() &&
           std::chrono::steady_clock::now() < acceptUntil) {
        pollfd entry{service.fd(), POLLIN, 0};
        if (::poll(&entry, 1, 100) > 0) {
            socklen_t length = sizeof peer;
            connection.reset(
                ::accept4(service.fd(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
        }
    }
    service.closeSocket(); // one image per announcement: later connections are refused
    int64_t received = 0;
    std::vector<char> buffer(65536);
    while (!service.stopping() && connection.valid()) {
        pollfd entry{connection.get(), POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0) {
            continue;
        }
        ssize_t n = ::recv(connection.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                finish(received);
            }
            break;
        }
        log.record(endpoint, peer, buffer.data(), static_cast<size_t>(n));
        received += n;
    }
}

void FirmwareReceiver::finish(int64_t received) {
    state.update([&](CarSettings& s) {
        s.firmware.receivedSize = received;
        s.firmware.transferComplete = true;
    });
    std::fprintf(stderr, "carsim: firmware image of %lld bytes received\n",
                 static_cast<long long>(received));
    std::lock_guard lock(doneMutex);
    done = true;
    doneChanged.notify_all();
}

} // namespace carsim
