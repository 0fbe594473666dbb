// carsim: one camera car of either family on the fixed ports, for tests and manual trials.
#include <csignal>
#include <cstdio>
#include <ctime>

#include "carsim/car.h"

using namespace carsim;

namespace {

CarSettings initialSettings(const Options& options) {
    CarSettings s;
    s.mcu.hwType = options.hwType;
    s.mcu.fwMajor = options.fwMajor;
    s.mcu.fwMinor = options.fwMinor;
    s.videoFirmwareVersion = options.fwVersion;
    s.wifi.ssid = options.name;
    // The heartbeat and the video's slice trailers report the same device flags.
    s.deviceFlags = options.media.deviceFlags;
    return s;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    bool help = false;
    if (!parseOptions(argc, argv, options, error, help)) {
        std::fprintf(stderr, "carsim: %s\n%s", error.c_str(), usageText());
        return 2;
    }
    if (help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    WireLog log;
    if (!options.logFile.empty() && !log.open(options.logFile)) {
        std::fprintf(stderr, "carsim: cannot open log %s\n", options.logFile.c_str());
        return 1;
    }

    // Signals are taken synchronously by this thread only; every endpoint thread inherits
    // the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    CarState state(initialSettings(options));
    FaultSchedule faults(options, FaultSchedule::Clock::now());
    Car car(options, state, faults, log);
    if (!car.start()) {
        return 1;
    }
    int exitCode = 0;
    for (;;) {
        timespec tick{0, 50 * 1000 * 1000};
        int signal = sigtimedwait(&signals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM) {
            break;
        }
        bool present = faults.present(FaultSchedule::Clock::now());
        if (!present && car.running()) {
            std::fprintf(stderr, "carsim: vanishing\n");
            car.stop();
        } else if (present && !car.running()) {
            std::fprintf(stderr, "carsim: coming back\n");
            if (!car.start()) {
                exitCode = 1;
                break;
            }
        }
    }
    car.stop();
    return exitCode;
}
