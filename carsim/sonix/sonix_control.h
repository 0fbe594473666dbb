#pragma once

#include <nlohmann/json.hpp>

#include "carsim/car_state.h"
#include "carsim/control/control_commands.h"
#include "carsim/control/control_server.h"
#include "carsim/sonix/firmware_receiver.h"
#include "carsim/video_stream.h"

namespace carsim {

// Status codes of the Sonix control answers ("resp_status").
enum SonixStatus : int {
    kStatusOk = 0,
    kStatusInstalling = 1, // firmware installation still running
    kStatusBadParameter = 2,
    kStatusNotReady = 3, // e.g. installing an image that never arrived
    kStatusUnknown = kUnknownRequestStatus,
};

// The Sonix car's side of the JSON control channel: one compact JSON answer per request.
class SonixControl : public ControlHandler {
public:
    SonixControl(CarState& state, VideoStream& video, const FaultSchedule& faults, WireLog& log,
                 double installSeconds);

    void onConnected(const sockaddr_storage& peer, FaultSchedule::Clock::time_point at) override;
    std::optional<std::string> onRequest(const std::string& request) override;
    void onClosed() override;

    // The answer object to one parsed request; none when the car stays silent.
    std::optional<nlohmann::json> answer(const nlohmann::json& request);

private:
    ControlCommands commands();
    ControlCommand cameraSwitch(bool CameraSettings::*setting);

    int heartbeat(nlohmann::json& reply);
    int setWifi(const nlohmann::json& request);
    int setCarConfig(const nlohmann::json& request);
    int sendFirmware(const nlohmann::json& request, nlohmann::json& reply);
    int upgradeFirmware();
    int firmwareStatus();

    CarState& state;
    VideoStream& video;
    const FaultSchedule& faults;
    FirmwareReceiver firmware;
    const double installSeconds;
    const ControlCommands table;
    FaultSchedule::Clock::time_point connectedAt{};
};

} // namespace carsim
