#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <vector>

#include "carsim/endpoint/service_thread.h"
#include "carsim/endpoint/socket_util.h"
#include "carsim/endpoint/wire_log.h"
#include "carsim/video_stream.h"

namespace carsim {

// One parsed RTSP request: request line and headers (names as sent).
struct RtspRequest {
    std::string method;
    std::string uri;
    std::map<std::string, std::string> headers;
    std::string header(const std::string& name) const;
};

// Splits off the first complete request of `buffer` (through its empty line and any body).
std::optional<std::string> takeRtspRequest(std::string& buffer);
std::optional<RtspRequest> parseRtspRequest(const std::string& text);

// TCP 554 of a Sonix car. Clients may keep several connections open (one per session
// attempt); the session and its video are the car's, whichever connection drives them.
class RtspServer {
public:
    static constexpr uint16_t kPort = 554;

    // `mediaSocket` gives the bound UDP 4500 socket the video leaves from; `bitrateKbps` the
    // encoder rate for a stream started now.
    RtspServer(VideoStream& video, WireLog& log, std::function<int()> mediaSocket,
               std::function<int()> bitrateKbps);
    ~RtspServer();
    RtspServer(const RtspServer&) = delete;
    RtspServer& operator=(const RtspServer&) = delete;

    bool start() {
        return service.serveTcp(kPort, [this] { run(); });
    }
    void stop();

    // The answer to one request arriving on a connection from `peer` to `local`.
    std::string respond(const RtspRequest& request, const sockaddr_storage& peer,
                        const sockaddr_storage& local);

private:
    struct Connection {
        UniqueFd fd;
        sockaddr_storage peer{};
        sockaddr_storage local{};
        std::string buffer;
    };

    void run() noexcept;
    void accept();
    bool serve(Connection& connection); // false when the connection is over

    VideoStream& video;
    WireLog& log;
    std::function<int()> mediaSocket;
    std::function<int()> bitrateKbps;
    ServiceThread service; // the listening socket

    // Owned by the server thread.
    std::vector<Connection> connections;
    std::string sessionId;
    std::optional<sockaddr_storage> destination; // from the latest SETUP
};

} // namespace carsim
