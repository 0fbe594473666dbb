#include "carsim/car.h"

#include <cstdio>

namespace carsim {

DiscoveryIdentity identityFor(const Options& options) {
    DiscoveryIdentity id;
    bool sonix = options.family == Family::Sonix;
    id.kind =
        static_cast<uint8_t>(options.discoveryKind >= 0 ? options.discoveryKind : (sonix ? 0 : 1));
    id.word10 = 1;
    id.text16 = sonix ? "DRIVON-SX" : "DRIVON-ZD";
    id.text48 = sonix ? "2.10.00" : "1.4.2";
    id.bytes64 = idBytesForName(options.name);
    id.name = options.name;
    return id;
}

namespace {

std::unique_ptr<ControlHandler> makeHandler(const Options& options, CarState& state,
                                            VideoStream& video, const FaultSchedule& faults,
                                            WireLog& log, UdpEndpoint& media) {
    if (options.family == Family::Sonix) {
        return std::make_unique<SonixControl>(state, video, faults, log, options.fwInstallSeconds);
    }
    return std::make_unique<ZoderivControl>(
        state, video, faults, [&media] { return media.fd(); }, options.media.bitrateKbps);
}

} // namespace

Car::Car(const Options& options, CarState& state, const FaultSchedule& faults, WireLog& log)
    : options(options), state(state), log(log), video(options.media),
      discovery(identityFor(options), options.badDiscovery, log),
      media(options.family == Family::Sonix ? kSonixMediaPort : kZoderivMediaPort, log),
      auxMedia(kSonixAuxMediaPort, log), wheel(state, log),
      handler(makeHandler(options, state, video, faults, log, media)),
      control(*handler, faults, log),
      rtsp(
          video, log, [this] { return media.fd(); }, [this] { return encoderKbps(); }) {}

Car::~Car() {
    stop();
}

int Car::encoderKbps() const {
    if (options.bitrateGiven || options.family != Family::Sonix) {
        return options.media.bitrateKbps;
    }
    return state.snapshot().camera.bitrate / 1000;
}

bool Car::start() {
    if (started) {
        return true;
    }
    started = true; // so that stop undoes a partial start
    bool sonix = options.family == Family::Sonix;
    // Discovery last: a car announces itself only once every endpoint is up.
    bool ok = media.start() && (!sonix || auxMedia.start()) && (!sonix || wheel.start()) &&
              (!sonix || rtsp.start()) && control.start() && discovery.start();
    if (ok && options.streamTo) {
        ok = video.start(media.fd(), *options.streamTo, encoderKbps());
    }
    if (!ok) {
        stop();
        return false;
    }
    std::fprintf(stderr, "carsim: %s car \"%s\" up\n", sonix ? "Sonix" : "Zoderiv",
                 options.name.c_str());
    return true;
}

void Car::stop() {
    if (!started) {
        return;
    }
    // The servers first: they are what starts the video. Then the video, before the socket it
    // sends from is closed.
    discovery.stop();
    control.stop();
    rtsp.stop();
    video.stop();
    wheel.stop();
    auxMedia.stop();
    media.stop();
    started = false;
}

} // namespace carsim
