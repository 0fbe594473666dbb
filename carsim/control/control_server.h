#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/socket.h>

#include "carsim/control/json_splitter.h"
#include "carsim/endpoint/service_thread.h"
#include "carsim/endpoint/socket_util.h"
#include "carsim/endpoint/wire_log.h"
#include "carsim/fault_schedule.h"

namespace carsim {

// What a family does with its control connection's requests.
class ControlHandler {
public:
    virtual ~ControlHandler() = default;
    virtual void onConnected(const sockaddr_storage& peer, FaultSchedule::Clock::time_point at) = 0;
    // The bytes of the answer, or none to stay silent.
    virtual std::optional<std::string> onRequest(const std::string& request) = 0;
    virtual void onClosed() = 0;
};

enum class AnswerWrites { Whole, Split };

// TCP 8080: one control client at a time. A new connection replaces the one before (a client
// that reconnects after losing its link must not find the car busy with a stale socket).
// Requests are bare JSON objects, cut out of the stream as they complete.
class ControlServer {
public:
    static constexpr uint16_t kPort = 8080;

    ControlServer(ControlHandler& handler, const FaultSchedule& faults, WireLog& log);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    bool start() {
        return service.serveTcp(kPort, [this] { run(); });
    }
    void stop() { service.stop(); }

private:
    void run() noexcept;
    void accept();
    void readClient();
    void closeClient(const char* reason);
    void answer(const std::string& bytes);

    ControlHandler& handler;
    const FaultSchedule& faults;
    WireLog& log;
    ServiceThread service; // the listening socket

    // Owned by the server thread.
    UniqueFd client;
    sockaddr_storage clientPeer{};
    std::optional<FaultSchedule::Clock::time_point> closeAt;
    JsonSplitter splitter;
};

} // namespace carsim
