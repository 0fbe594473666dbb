#pragma once

#include <functional>
#include <optional>

#include <nlohmann/json.hpp>

#include "carsim/car_state.h"
#include "carsim/control/control_commands.h"
#include "carsim/control/control_server.h"
#include "carsim/video_stream.h"

namespace carsim {

// The Zoderiv car's side of the control channel. Requests carry "command" and "tag"; every
// answer is a 4-byte big-endian length and a JSON object echoing the tag.
class ZoderivControl : public ControlHandler {
public:
    static constexpr int kStatusOk = 0;
    static constexpr int kStatusBadParameter = 2;
    static constexpr int kStatusNotReady = 3;
    static constexpr int kStatusUnknown = kUnknownRequestStatus;

    // `mediaSocket` is the bound UDP 8082 socket the video leaves from.
    ZoderivControl(CarState& state, VideoStream& video, const FaultSchedule& faults,
                   std::function<int()> mediaSocket, int bitrateKbps);

    void onConnected(const sockaddr_storage& peer, FaultSchedule::Clock::time_point at) override;
    std::optional<std::string> onRequest(const std::string& request) override;
    void onClosed() override;

    std::optional<nlohmann::json> answer(const nlohmann::json& request);
    static std::string frame(const nlohmann::json& reply);

private:
    ControlCommands commands();
    int enableStreaming(const nlohmann::json& request);
    int setWifi(const nlohmann::json& request);

    CarState& state;
    VideoStream& video;
    const FaultSchedule& faults;
    std::function<int()> mediaSocket;
    const int bitrateKbps;
    const ControlCommands table;

    // Owned by the control server's thread.
    sockaddr_storage peer{};
    FaultSchedule::Clock::time_point connectedAt{};
    std::optional<uint16_t> realtimePort;
};

} // namespace carsim
