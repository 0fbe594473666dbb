#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "carsim/car_state.h"
#include "carsim/endpoint/service_thread.h"
#include "carsim/endpoint/wire_log.h"

namespace carsim {

// Takes one firmware image: listens on a port of the system's choosing, accepts one connection
// and reads the raw image to the end of the stream. The image itself is only counted.
class FirmwareReceiver {
public:
    FirmwareReceiver(CarState& state, WireLog& log);

    // Port to announce, 0 on failure. Replaces a transfer in progress.
    uint16_t start(int64_t announcedSize);
    void stop() { service.stop(); }
    // True when the image has been read to its end within the time given.
    bool waitDone(std::chrono::milliseconds limit);

private:
    void run(uint16_t port) noexcept;
    void finish(int64_t received);

    CarState& state;
    WireLog& log;
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;     // guarded by doneMutex
    ServiceThread service; // last member: its thread stops before the rest goes
};

} // namespace carsim
