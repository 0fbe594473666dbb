#pragma once

#include <chrono>
#include <optional>

#include "carsim/options.h"

namespace carsim {

// When the faults asked for on the command line strike. Connection faults count from the
// moment each control connection opened; the vanish counts from the car's start.
class FaultSchedule {
public:
    using Clock = std::chrono::steady_clock;

    FaultSchedule(const Options& options, Clock::time_point start);

    bool answersHeartbeat(Clock::time_point connectedAt, Clock::time_point now) const;
    std::optional<Clock::time_point> controlCloseTime(Clock::time_point connectedAt) const;
    // False while the car has vanished.
    bool present(Clock::time_point now) const;
    bool splitAnswers() const { return split; }

private:
    static std::optional<Clock::duration> after(double seconds);

    Clock::time_point start;
    std::optional<Clock::duration> heartbeatStop;
    std::optional<Clock::duration> closeControl;
    std::optional<Clock::duration> vanishAt;
    Clock::duration vanishFor{};
    bool split;
};

} // namespace carsim
