#include "media/rtsp/rtsp_session.h"

#include <chrono>
#include <optional>
#include <utility>

#include "media/rtsp/rtsp_answer.h"
#include "media/rtsp/rtsp_requests.h"

namespace {

using Connection = NetManager::NetConnection;
using Clock = std::chrono::steady_clock;

// Both OPTIONS answers within this much in all, so a car that keeps sending something else
// cannot hold the caller (and its stream lock) for ever; each answer still gets its own 3 s.
constexpr int kOptionsAnswers = 2;
constexpr auto kOptionsWait =
    std::chrono::milliseconds(kOptionsAnswers * RtspSession::kAnswerTimeoutMs);

bool sendText(Connection& connection, int socket, const std::string& text) {
    return connection.send(
        NetManager::makePacket(socket, std::vector<uint8_t>(text.begin(), text.end())));
}

// The bytes of the next TCP read, or nothing after `timeoutMs` (at least 1: 0 would wait for
// ever) or once the connection is closed.
std::optional<std::string> receiveAnswer(Connection& connection, int timeoutMs) {
    std::unique_ptr<NetManager::NetPacket> packet;
    if (timeoutMs <= 0 || !connection.receive(packet, timeoutMs)) {
        return std::nullopt;
    }
    return std::string(packet->data.begin(), packet->data.end());
}

// Sends a request and takes one answer; the answer when it is good.
std::optional<std::string> exchange(Connection& connection, int socket, const std::string& request,
                                    int timeoutMs) {
    if (!sendText(connection, socket, request)) {
        return std::nullopt;
    }
    auto answer = receiveAnswer(connection, timeoutMs);
    if (!answer || !isRtspOk(*answer)) {
        return std::nullopt;
    }
    return answer;
}

} // namespace

RtspSession::RtspSession(std::shared_ptr<NetManager> manager,
                         std::shared_ptr<NetManager::NetConnection> mediaConnection,
                         int mediaSocket, int auxMediaSocket)
    : netManager(std::move(manager)), mediaConnection(std::move(mediaConnection)),
      mediaSocket(mediaSocket), auxMediaSocket(auxMediaSocket) {}

RtspSession::~RtspSession() {
    close();
}

int RtspSession::start() noexcept {
    try {
        // Sent before any request, from the very sockets the video will arrive on; whether
        // they went out is not looked at.
        if (mediaConnection != nullptr) {
            for (int socket : {mediaSocket, auxMediaSocket}) {
                mediaConnection->send(NetManager::makePacket(socket, {'d', 'u', 'm', 'm', 'y'}));
            }
        }
        int result = -1;
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            result = runRtspSession();
            if (result == 0) {
                break;
            }
        }
        return result;
    } catch (...) {
        return -1;
    }
}

int RtspSession::runRtspSession() {
    std::shared_ptr<Connection> connection = replaceConnection();
    if (connection == nullptr) {
        return kNetNoResource;
    }
    int socket = kInvalidSocket;
    const int opened = connection->open(NetManager::kSocketTcp, kRtspPort, socket);
    if (opened != 0) {
        abandon(connection);
        return opened;
    }
    {
        std::lock_guard<std::mutex> guard(connectionMutex);
        if (!closed) {
            rtspSocket = socket;
        }
    }
    int result = -1;
    try {
        // A close() that came during the connect closed the connection before its socket
        // existed; the conversation then fails at once and abandon closes the socket.
        result = converse(*connection, socket);
    } catch (...) {
        result = -1;
    }
    if (result != 0) {
        // Left open, every failed attempt would keep one of the manager's eight sockets.
        abandon(connection);
    }
    return result;
}

int RtspSession::converse(Connection& connection, int socket) {
    const uint16_t rtpPort = boundPort(mediaSocket);
    const uint16_t rtcpPort = boundPort(auxMediaSocket);

    const std::string options = rtspOptionsRequest();
    if (!sendText(connection, socket, options) || !sendText(connection, socket, options)) {
        return -1;
    }
    // The car may answer both in one read; every success status counts.
    const auto deadline = Clock::now() + kOptionsWait;
    for (int okCount = 0; okCount < kOptionsAnswers;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const int timeoutMs = static_cast<int>(std::min<int64_t>(left.count(), kAnswerTimeoutMs));
        auto answer = receiveAnswer(connection, timeoutMs);
        if (!answer) {
            return -1;
        }
        okCount += rtspOkCount(*answer);
    }

    if (!exchange(connection, socket, rtspDescribeRequest(), kAnswerTimeoutMs)) {
        return -1;
    }
    auto setup =
        exchange(connection, socket, rtspSetupRequest(rtpPort, rtcpPort), kAnswerTimeoutMs);
    if (!setup) {
        return -1;
    }
    rtpSessionTag = rtspSessionTag(*setup);
    if (rtpSessionTag.empty()) {
        return -1;
    }
    if (!exchange(connection, socket, rtspPlayRequest(rtpSessionTag), kAnswerTimeoutMs)) {
        return -1;
    }
    return 0;
}

int RtspSession::stop() noexcept {
    try {
        std::shared_ptr<Connection> connection;
        int socket = kInvalidSocket;
        {
            std::lock_guard<std::mutex> guard(connectionMutex);
            connection = rtspConnection;
            socket = rtspSocket;
        }
        if (connection == nullptr) {
            return -1;
        }
        return exchange(*connection, socket, rtspTeardownRequest(rtpSessionTag), kTeardownTimeoutMs)
                   ? 0
                   : -1;
    } catch (...) {
        return -1;
    }
}

void RtspSession::close() noexcept {
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard<std::mutex> guard(connectionMutex);
        closed = true;
        connection = std::exchange(rtspConnection, nullptr);
        rtspSocket = kInvalidSocket;
    }
    if (connection != nullptr) {
        connection->close();
    }
}

std::shared_ptr<Connection> RtspSession::replaceConnection() {
    std::shared_ptr<Connection> previous;
    {
        std::lock_guard<std::mutex> guard(connectionMutex);
        if (closed) {
            return nullptr;
        }
        previous = std::exchange(rtspConnection, nullptr);
        rtspSocket = kInvalidSocket;
    }
    // An earlier stream's connection, done with once its TEARDOWN went out; kept, each start
    // would hold one more of the manager's sockets.
    if (previous != nullptr) {
        previous->close();
    }
    std::shared_ptr<Connection> fresh = netManager->createConnection();
    if (fresh == nullptr) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(connectionMutex);
    if (closed) {
        fresh->close();
        return nullptr;
    }
    rtspConnection = fresh;
    return fresh;
}

void RtspSession::abandon(const std::shared_ptr<Connection>& connection) {
    connection->close();
    std::lock_guard<std::mutex> guard(connectionMutex);
    if (rtspConnection == connection) {
        rtspConnection = nullptr;
        rtspSocket = kInvalidSocket;
    }
}

uint16_t RtspSession::boundPort(int socket) const {
    return mediaConnection != nullptr ? mediaConnection->localPort(socket)
                                      : NetManager::kUnknownPort;
}
