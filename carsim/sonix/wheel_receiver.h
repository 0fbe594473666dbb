#pragma once

#include <cstdint>
#include <optional>

#include "carsim/car_state.h"
#include "carsim/endpoint/udp_endpoint.h"

namespace carsim {

// Wheel-control packet on UDP 19267, 12 bytes:
//   +0 "WCTL"   +4 int32 LE steering (x × 32767)   +8 int32 LE throttle (y × 32767)
struct WheelCommand {
    int32_t x = 0;
    int32_t y = 0;
};
std::optional<WheelCommand> parseWheelPacket(const uint8_t* data, size_t size);

// Receives the wheel-control packets of a Sonix car and keeps the latest in the car state.
class WheelReceiver {
public:
    static constexpr uint16_t kPort = 19267;

    WheelReceiver(CarState& state, WireLog& log);
    bool start() { return endpoint.start(); }
    void stop() { endpoint.stop(); }

private:
    CarState& state;
    UdpEndpoint endpoint;
};

} // namespace carsim
