#include "carsim/sonix/rtsp_server.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <poll.h>
#include <random>
#include <sstream>

namespace carsim {

namespace {

constexpr size_t kMaxRequest = 65536;
constexpr size_t kMaxConnections = 16;

std::string trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// "client_port=5000-5001" inside a Transport header: the first (RTP) port.
std::optional<uint16_t> clientRtpPort(const std::string& transport) {
    size_t at = transport.find("client_port=");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const char* digits = transport.c_str() + at + 12;
    char* end = nullptr;
    long port = std::strtol(digits, &end, 10);
    if (end == digits || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(port);
}

std::string hostOf(const sockaddr_storage& address) {
    std::string text = formatAddress(address);
    return text.substr(0, text.rfind(':'));
}

std::string newSessionId() {
    std::random_device random;
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(random()));
    return text;
}

} // namespace

std::string RtspRequest::header(const std::string& name) const {
    auto found = headers.find(lower(name));
    return found == headers.end() ? std::string() : found->second;
}

std::optional<std::string> takeRtspRequest(std::string& buffer) {
    size_t end = buffer.find("\r\n\r\n");
    if (end == std::string::npos) {
        return std::nullopt;
    }
    size_t total = end + 4;
    auto parsed = parseRtspRequest(buffer.substr(0, total));
    if (parsed) {
        std::string length = parsed->header("Content-Length");
        size_t body = length.empty() ? 0 : std::strtoul(length.c_str(), nullptr, 10);
        if (body > kMaxRequest) {
            body = 0;
        }
        if (buffer.size() < total + body) {
            return std::nullopt;
        }
        total += body;
    }
    std::string request = buffer.substr(0, total);
    buffer.erase(0, total);
    return request;
}

std::optional<RtspRequest> parseRtspRequest(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line)) {
        return std::nullopt;
    }
    RtspRequest request;
    std::istringstream first(line);
    std::string version;
    if (!(first >> request.method >> request.uri >> version) || version.rfind("RTSP/", 0) != 0) {
        return std::nullopt;
    }
    while (std::getline(lines, line) && line != "\r" && !line.empty()) {
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            request.headers[lower(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
        }
    }
    return request;
}

RtspServer::RtspServer(VideoStream& video, WireLog& log, std::function<int()> mediaSocket,
                       std::function<int()> bitrateKbps)
    : video(video), log(log), mediaSocket(std::move(mediaSocket)),
      bitrateKbps(std::move(bitrateKbps)) {}

RtspServer::~RtspServer() {
    stop();
}

void RtspServer::stop() {
    service.stop();
    connections.clear();
}

void RtspServer::run() noexcept {
    try {
        while (!service.stopping()) {
            std::vector<pollfd> entries{{service.fd(), POLLIN, 0}};
            for (const Connection& c : connections) {
                entries.push_back({c.fd.get(), POLLIN, 0});
            }
            if (::poll(entries.data(), entries.size(), 100) <= 0) {
                continue;
            }
            // Connections first: accepting may drop the oldest and shift the vector.
            for (size_t i = entries.size() - 1; i >= 1; --i) {
                if (entries[i].revents != 0 && !serve(connections[i - 1])) {
                    connections.erase(connections.begin() + static_cast<long>(i - 1));
                }
            }
            if ((entries[0].revents & POLLIN) != 0) {
                accept();
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "carsim: RTSP server ended: %s\n", e.what());
    }
}

void RtspServer::accept() {
    Connection c;
    socklen_t length = sizeof c.peer;
    c.fd.reset(
        ::accept4(service.fd(), reinterpret_cast<sockaddr*>(&c.peer), &length, SOCK_CLOEXEC));
    if (!c.fd.valid()) {
        return;
    }
    length = sizeof c.local;
    ::getsockname(c.fd.get(), reinterpret_cast<sockaddr*>(&c.local), &length);
    if (connections.size() >= kMaxConnections) {
        connections.erase(connections.begin()); // a client that leaks connections loses its oldest
    }
    connections.push_back(std::move(c));
}

bool RtspServer::serve(Connection& c) {
    char buffer[4096];
    ssize_t n = ::recv(c.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    if (n <= 0) {
        return false;
    }
    c.buffer.append(buffer, static_cast<size_t>(n));
    while (auto text = takeRtspRequest(c.buffer)) {
        log.record("tcp:554", c.peer, text->data(), text->size());
        auto request = parseRtspRequest(*text);
        std::string reply =
            request ? respond(*request, c.peer, c.local) : "RTSP/1.0 400 Bad Request\r\n\r\n";
        // One write per answer, as the car's own server does.
        if (!sendAll(c.fd.get(), reply.data(), reply.size())) {
            return false;
        }
    }
    return c.buffer.size() <= kMaxRequest;
}

std::string RtspServer::respond(const RtspRequest& request, const sockaddr_storage& peer,
                                const sockaddr_storage& local) {
    std::string cseq = "CSeq: " + request.header("CSeq") + "\r\n";
    auto status = [&cseq](const char* line) {
        return std::string("RTSP/1.0 ") + line + "\r\n" + cseq + "\r\n";
    };
    std::string ok = "RTSP/1.0 200 OK\r\n" + cseq;
    const std::string& m = request.method;
    if (m == "OPTIONS") {
        return ok + "Public: OPTIONS, DESCRIBE, SETUP, TEARDOWN, PLAY\r\n\r\n";
    }
    if (m == "DESCRIBE") {
        std::string host = hostOf(local);
        std::string sdp = "v=0\r\no=- 1 1 IN IP4 " + host +
                          "\r\ns=Drivon car\r\nt=0 0\r\na=control:*\r\n"
                          "m=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\n"
                          "a=rtpmap:96 H264/90000\r\na=control:stream=0\r\n";
        return ok + "Content-Base: " + request.uri + "/\r\nContent-Type: application/sdp\r\n" +
               "Content-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    }
    std::string session = request.header("Session");
    session = session.substr(0, session.find(';'));
    if (m == "SETUP") {
        std::string transport = request.header("Transport");
        auto port = clientRtpPort(transport);
        if (!port) {
            return status("461 Unsupported Transport");
        }
        destination = withPort(peer, *port);
        sessionId = newSessionId();
        return ok + "Transport: " + transport + ";server_port=4500-4501\r\nSession: " + sessionId +
               ";timeout=60\r\n\r\n";
    }
    if (m == "PLAY" || m == "TEARDOWN") {
        if (sessionId.empty()) {
            return status("455 Method Not Valid in This State");
        }
        if (session != sessionId) {
            return status("454 Session Not Found");
        }
        std::string sessionLine = "Session: " + sessionId + "\r\n";
        if (m == "TEARDOWN") {
            video.stop();
            return ok + sessionLine + "\r\n";
        }
        if (!video.start(mediaSocket(), *destination, bitrateKbps())) {
            return status("500 Internal Server Error");
        }
        return ok + sessionLine + "Range: npt=0.000-\r\n\r\n";
    }
    return status("501 Not Implemented");
}

} // namespace carsim
