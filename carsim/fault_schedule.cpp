#include "carsim/fault_schedule.h"

namespace carsim {

std::optional<FaultSchedule::Clock::duration> FaultSchedule::after(double seconds) {
    if (seconds < 0) {
        return std::nullopt;
    }
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

FaultSchedule::FaultSchedule(const Options& options, Clock::time_point start)
    : start(start), heartbeatStop(after(options.heartbeatStopSeconds)),
      closeControl(after(options.closeControlSeconds)), vanishAt(after(options.vanishAfterSeconds)),
      vanishFor(after(options.vanishForSeconds).value_or(Clock::duration{})),
      split(options.splitAnswers) {}

bool FaultSchedule::answersHeartbeat(Clock::time_point connectedAt, Clock::time_point now) const {
    return !heartbeatStop || now < connectedAt + *heartbeatStop;
}

std::optional<FaultSchedule::Clock::time_point>
FaultSchedule::controlCloseTime(Clock::time_point connectedAt) const {
    if (!closeControl) {
        return std::nullopt;
    }
    return connectedAt + *closeControl;
}

bool FaultSchedule::present(Clock::time_point now) const {
    return !vanishAt || now < start + *vanishAt || now >= start + *vanishAt + vanishFor;
}

} // namespace carsim
