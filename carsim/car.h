#pragma once

#include <memory>

#include "carsim/car_state.h"
#include "carsim/control/control_server.h"
#include "carsim/discovery/discovery_responder.h"
#include "carsim/endpoint/udp_endpoint.h"
#include "carsim/options.h"
#include "carsim/sonix/rtsp_server.h"
#include "carsim/sonix/sonix_control.h"
#include "carsim/sonix/wheel_receiver.h"
#include "carsim/video_stream.h"
#include "carsim/zoderiv/zoderiv_control.h"

namespace carsim {

// All endpoints of one car of the chosen family. start brings every socket up, stop takes
// everything down (video first, as it sends from a socket the endpoints own); a car can be
// started again after a stop, keeping its settings.
class Car {
public:
    static constexpr uint16_t kSonixMediaPort = 4500;
    static constexpr uint16_t kSonixAuxMediaPort = 4501;
    static constexpr uint16_t kZoderivMediaPort = 8082;

    Car(const Options& options, CarState& state, const FaultSchedule& faults, WireLog& log);
    ~Car();
    Car(const Car&) = delete;
    Car& operator=(const Car&) = delete;

    bool start();
    void stop();
    bool running() const { return started; }

private:
    int encoderKbps() const;

    const Options& options;
    CarState& state;
    WireLog& log;
    VideoStream video;
    DiscoveryResponder discovery;
    UdpEndpoint media;    // 4500 (Sonix) or 8082 (Zoderiv): dummies in, video out
    UdpEndpoint auxMedia; // 4501, Sonix only
    WheelReceiver wheel;
    std::unique_ptr<ControlHandler> handler;
    ControlServer control;
    RtspServer rtsp;
    bool started = false;
};

DiscoveryIdentity identityFor(const Options& options);

} // namespace carsim
