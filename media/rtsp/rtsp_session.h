// The RTSP dialogue that makes a Sonix car send its video: a fixed series of requests with
// constant sequence numbers, each answer judged by one test, and the session identifier as the
// only value taken from the car. It runs over the network manager of the client's connection;
// the client owns one RtspSession per connection and serialises start and stop itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/net_manager.h"

class RtspSession {
public:
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
    // result (a negative NetConnection::open code, or -1).
    int start();
    // TEARDOWN on the successful attempt's connection. 0 when the car confirmed it, -1 when no
    // answer came within 2 s or it was not good.
    int stop();
    // Closes every connection this session opened (the client's disconnect).
    void close();

    // The identifier taken from the last SETUP answer; kept after the stream ends.
    const std::string& sessionTag() const { return rtpSessionTag; }

private:
    // One complete attempt: 0, the negative code of open, or -1.
    int runRtspSession();

    std::shared_ptr<NetManager> netManager;
    std::shared_ptr<NetManager::NetConnection> mediaConnection;
    const int mediaSocket;
    const int auxMediaSocket;
    std::shared_ptr<NetManager::NetConnection> rtspConnection;
    int rtspSocket = kInvalidSocket;
    std::string rtpSessionTag;
};
