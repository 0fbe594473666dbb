// The RTSP dialogue that makes a Sonix car send its video: a fixed series of requests with
// constant sequence numbers, each answer judged by one test, and the session identifier as the
// only value taken from the car. It runs over the network manager of the client's connection;
// the client owns one RtspSession per connection and serialises start and stop itself.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "net/net_manager.h"

class RtspSession {
public:
    static constexpr uint16_t kRtspPort = 554;
    static constexpr int kAttempts = 4;
    static constexpr int kAnswerTimeoutMs = 3000;
    static constexpr int kTeardownTimeoutMs = 2000;

    // The manager of the client's connection, and the media connection with its two UDP sockets
    // (device ports 4500 and 4501), whose bound ports SETUP announces.
    RtspSession(std::shared_ptr<NetManager> manager,
                std::shared_ptr<NetManager::NetConnection> mediaConnection, int mediaSocket,
                int auxMediaSocket);
    ~RtspSession();
    RtspSession(const RtspSession&) = delete;
    RtspSession& operator=(const RtspSession&) = delete;

    // The "dummy" datagrams from both media sockets, then up to four session attempts one
    // directly after the other. 0 once an attempt succeeded, otherwise the fourth attempt's
    // result (a negative NetConnection::open code, or -1). A failed attempt closes the
    // connection it opened; the successful one stays open for TEARDOWN.
    int start() noexcept;
    // TEARDOWN on the successful attempt's connection. 0 when the car confirmed it, -1 when no
    // answer came within 2 s or it was not good. The connection stays open until the next
    // start or close.
    int stop() noexcept;
    // Closes every connection this session opened (the client's disconnect). May come from
    // another thread while start or stop waits: they then end at once, and no later attempt
    // opens anything.
    void close() noexcept;

    // The identifier taken from the last SETUP answer; kept after the stream ends. Written by
    // start: read it where start and stop are serialised.
    const std::string& sessionTag() const { return rtpSessionTag; }

private:
    using Connection = NetManager::NetConnection;

    // One complete attempt: 0, the negative code of open, or -1.
    int runRtspSession();
    // OPTIONS twice, DESCRIBE, SETUP, PLAY on an open connection: 0 or -1.
    int converse(Connection& connection, int socket);
    // A fresh connection in place of the previous one, which is closed; null once closed.
    std::shared_ptr<Connection> replaceConnection();
    // Closes a failed attempt's connection and forgets it.
    void abandon(const std::shared_ptr<Connection>& connection);
    uint16_t boundPort(int socket) const;

    const std::shared_ptr<NetManager> netManager;
    const std::shared_ptr<Connection> mediaConnection;
    const int mediaSocket;
    const int auxMediaSocket;

    std::mutex connectionMutex;
    std::shared_ptr<Connection> rtspConnection; // guarded by connectionMutex
    int rtspSocket = kInvalidSocket;            // guarded by connectionMutex
    bool closed = false;                        // guarded by connectionMutex
    std::string rtpSessionTag;                  // written by start only
};
