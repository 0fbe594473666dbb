#include "carsim/control/control_server.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/time.h>

namespace carsim {

ControlServer::ControlServer(ControlHandler& handler, const FaultSchedule& faults, WireLog& log)
    : handler(handler), faults(faults), log(log) {}

ControlServer::~ControlServer() {
    stop();
}

void ControlServer::run() noexcept {
    try {
        while (!service.stopping()) {
            pollfd entries[2] = {{service.fd(), POLLIN, 0}, {client.get(), POLLIN, 0}};
            int count = client.valid() ? 2 : 1;
            if (::poll(entries, static_cast<nfds_t>(count), 100) > 0) {
                if ((entries[0].revents & POLLIN) != 0) {
                    accept();
                } else if (count == 2 && entries[1].revents != 0) {
                    readClient();
                }
            }
            if (client.valid() && closeAt && FaultSchedule::Clock::now() >= *closeAt) {
                closeClient("closed on schedule");
            }
        }
        closeClient("car stopping");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "carsim: control server ended: %s\n", e.what());
    }
}

void ControlServer::accept() {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    UniqueFd next(
        ::accept4(service.fd(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
    if (!next.valid()) {
        return;
    }
    closeClient("replaced by a new connection");
    int one = 1;
    // Split answers must leave as separate segments.
    ::setsockopt(next.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval sendLimit{2, 0};
    ::setsockopt(next.get(), SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    client = std::move(next);
    clientPeer = peer;
    splitter = JsonSplitter();
    auto now = FaultSchedule::Clock::now();
    closeAt = faults.controlCloseTime(now);
    std::fprintf(stderr, "carsim: control connection from %s\n", formatAddress(peer).c_str());
    handler.onConnected(peer, now);
}

void ControlServer::readClient() {
    char buffer[4096];
    ssize_t n = ::recv(client.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (n <= 0) {
        closeClient("closed by the client");
        return;
    }
    splitter.append(buffer, static_cast<size_t>(n));
    while (client.valid()) {
        auto piece = splitter.next();
        if (!piece) {
            break;
        }
        log.record("tcp:8080", clientPeer, piece->bytes.data(), piece->bytes.size());
        if (!piece->isObject) {
            continue;
        }
        std::optional<std::string> reply;
        try {
            reply = handler.onRequest(piece->bytes);
        } catch (const std::exception& e) {
            // A request the handler chokes on goes unanswered; the connection lives on.
            std::fprintf(stderr, "carsim: request not handled: %s\n", e.what());
        }
        if (reply) {
            answer(*reply);
        }
    }
}

void ControlServer::answer(const std::string& bytes) {
    bool sent = true;
    if (!faults.splitAnswers() || bytes.size() < 8) {
        sent = sendAll(client.get(), bytes.data(), bytes.size());
    } else {
        // The 4-byte length goes whole with the first piece; the rest follows in two more
        // writes, far enough apart to arrive in separate reads.
        size_t first = 4 + (bytes.size() - 4) / 3;
        size_t second = first + (bytes.size() - first) / 2;
        size_t cuts[] = {0, first, second, bytes.size()};
        for (int i = 0; i < 3 && sent; ++i) {
            if (i > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            }
            sent = sendAll(client.get(), bytes.data() + cuts[i], cuts[i + 1] - cuts[i]);
        }
    }
    if (!sent) {
        closeClient("write failed");
    }
}

void ControlServer::closeClient(const char* reason) {
    if (!client.valid()) {
        return;
    }
    std::fprintf(stderr, "carsim: control connection from %s ended: %s\n",
                 formatAddress(clientPeer).c_str(), reason);
    client.reset();
    closeAt.reset();
    handler.onClosed();
}

} // namespace carsim
