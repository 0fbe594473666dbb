#pragma once

#include <optional>
#include <string>
#include <sys/socket.h>

#include "carsim/media/media_sender.h"

namespace carsim {

// Everything the command line decides about one simulated car.
struct Options {
    Family family = Family::Sonix;
    std::string name = "carsim";
    std::string logFile;

    // Discovery
    int discoveryKind = -1; // -1: the family's own kind
    bool badDiscovery = false;

    // Microcontroller and video board
    int hwType = 1;
    int fwMajor = 2;
    int fwMinor = 5;
    std::string fwVersion = "V_2.10.00_37B_X_Y";
    double fwInstallSeconds = 5.0;

    // Faults (negative: never)
    double heartbeatStopSeconds = -1;
    double closeControlSeconds = -1;
    double vanishAfterSeconds = -1;
    double vanishForSeconds = 0;
    bool splitAnswers = false;

    // Video
    std::optional<sockaddr_storage> streamTo;
    bool bitrateGiven = false;
    MediaOptions media;
};

// Fills `options` from the command line. On failure `error` says why; `--help` sets `help`.
bool parseOptions(int argc, char** argv, Options& options, std::string& error, bool& help);
const char* usageText();

} // namespace carsim
