#include "tests/media/rtsp/fake_rtsp_car.h"

#include <algorithm>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/text_utils.h"

namespace rtsptest {

namespace {

int boundSocket(int type, uint16_t port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    const timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void sendAll(int fd, const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

} // namespace

int CarConnection::count(const std::string& method) const {
    return static_cast<int>(std::count_if(requests.begin(), requests.end(), [&](const auto& r) {
        return r.rfind(method + " ", 0) == 0;
    }));
}

FakeRtspCar::FakeRtspCar(Script script) : script(std::move(script)) {
    listener = boundSocket(SOCK_STREAM, 554);
    if (listener >= 0 && ::listen(listener, 16) != 0) {
        ::close(std::exchange(listener, -1));
    }
    media[0] = boundSocket(SOCK_DGRAM, 4500);
    media[1] = boundSocket(SOCK_DGRAM, 4501);
    if (::pipe2(wake, O_CLOEXEC) == 0) {
        thread = std::thread([this] { run(); });
    }
}

FakeRtspCar::~FakeRtspCar() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        stopping = true;
    }
    if (thread.joinable()) {
        (void)!::write(wake[1], "x", 1);
        thread.join();
    }
    for (int fd : {listener, media[0], media[1], wake[0], wake[1]}) {
        ::close(fd);
    }
    for (const Live& connection : live) {
        ::close(connection.fd);
    }
}

void FakeRtspCar::acceptAtMost(int count) {
    std::lock_guard<std::mutex> guard(mutex);
    acceptLimit = count;
}

void FakeRtspCar::trickle(int index, std::string bytes, std::chrono::milliseconds period) {
    std::lock_guard<std::mutex> guard(mutex);
    trickleIndex = index;
    trickleBytes = std::move(bytes);
    tricklePeriod = period;
}

FakeRtspCar::Connections FakeRtspCar::connections() {
    std::lock_guard<std::mutex> guard(mutex);
    return recorded;
}

bool FakeRtspCar::waitFor(const std::function<bool(const Connections&)>& condition) {
    std::unique_lock<std::mutex> guard(mutex);
    return changed.wait_for(guard, std::chrono::seconds(10), [&] { return condition(recorded); });
}

std::optional<std::pair<std::string, uint16_t>> FakeRtspCar::datagram(int index) {
    char buffer[2048];
    sockaddr_in from{};
    socklen_t length = sizeof(from);
    const ssize_t n = ::recvfrom(media[index], buffer, sizeof(buffer), 0,
                                 reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) {
        return std::nullopt;
    }
    return std::make_pair(std::string(buffer, static_cast<size_t>(n)), ntohs(from.sin_port));
}

void FakeRtspCar::run() noexcept {
    pthread_setname_np(pthread_self(), "fake-rtsp-car");
    for (;;) {
        std::vector<pollfd> set{{wake[0], POLLIN, 0}, {listener, POLLIN, 0}};
        for (const Live& connection : live) {
            set.push_back({connection.fd, POLLIN, 0});
        }
        ::poll(set.data(), set.size(), 10); // also the pace of trickled bytes
        {
            std::lock_guard<std::mutex> guard(mutex);
            if (stopping) {
                return;
            }
        }
        trickleDue();
        for (size_t i = 0; i < live.size(); ++i) {
            if (set[i + 2].revents != 0) {
                serve(i);
            }
        }
        if ((set[1].revents & POLLIN) != 0) {
            accept();
        }
    }
}

void FakeRtspCar::accept() {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    std::lock_guard<std::mutex> guard(mutex);
    const int index = static_cast<int>(recorded.size());
    recorded.push_back({Clock::now(), {}, false});
    live.push_back({fd, {}, Clock::time_point::max()});
    if (index == trickleIndex) {
        live.back().nextTrickle = Clock::now() + tricklePeriod;
    }
    if (acceptLimit == index + 1) {
        // Polled as -1 from now on, which poll skips.
        ::close(std::exchange(listener, -1));
    }
    changed.notify_all();
}

void FakeRtspCar::serve(size_t index) {
    Live& connection = live[index];
    char buffer[4096];
    const ssize_t n = ::recv(connection.fd, buffer, sizeof(buffer), MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        ::close(std::exchange(connection.fd, -1));
        std::lock_guard<std::mutex> guard(mutex);
        recorded[index].closedByClient = true;
        changed.notify_all();
        return;
    }
    if (n < 0) {
        return;
    }
    connection.buffer.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = connection.buffer.find("\r\n\r\n")) != std::string::npos;) {
        Request request{static_cast<int>(index), {}, 0, connection.buffer.substr(0, end + 4)};
        connection.buffer.erase(0, end + 4);
        request.method = request.text.substr(0, request.text.find(' '));
        {
            std::lock_guard<std::mutex> guard(mutex);
            request.repeat = recorded[index].count(request.method);
            recorded[index].requests.push_back(request.text);
        }
        sendAll(connection.fd, script(request));
        changed.notify_all();
    }
}

void FakeRtspCar::trickleDue() {
    for (Live& connection : live) {
        if (connection.fd >= 0 && Clock::now() >= connection.nextTrickle) {
            std::lock_guard<std::mutex> guard(mutex);
            sendAll(connection.fd, trickleBytes);
            connection.nextTrickle += tricklePeriod;
        }
    }
}

std::string okAnswer(const Request& request, const std::string& headers) {
    return "RTSP/1.0 200 OK\r\nCSeq: " + textBetween(request.text, "CSeq: ", "\r\n") + "\r\n" +
           headers + "\r\n";
}

std::string goodAnswer(const Request& request) {
    if (request.method == "SETUP") {
        return okAnswer(request,
                        "Transport: RTP/AVP;unicast;client_port=1-2;server_port=4500-4501\r\n"
                        "Session: 1A2B3C4D;timeout=60\r\n");
    }
    return okAnswer(request);
}

} // namespace rtsptest
