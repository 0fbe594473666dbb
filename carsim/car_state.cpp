#include "carsim/car_state.h"

#include <algorithm>

namespace carsim {

CarState::CarState(CarSettings initial)
    : settings(std::move(initial)), started(std::chrono::steady_clock::now()) {}

CarSettings CarState::snapshot() const {
    std::lock_guard lock(mutex);
    return settings;
}

std::array<uint8_t, 5> CarState::statusBytes() {
    std::lock_guard lock(mutex);
    auto up =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
            .count();
    ++beats;
    uint8_t count = static_cast<uint8_t>(beats & 0xFF);
    uint8_t signal = static_cast<uint8_t>(60 + (up / 5) % 20);
    uint8_t battery = static_cast<uint8_t>(std::max<int64_t>(5, 100 - up / 60));
    uint8_t bits = static_cast<uint8_t>((settings.errorFlags != 0 ? 1 : 0) |
                                        (settings.car.gyroSteeringEnabled ? 2 : 0) |
                                        (settings.car.motorsDisengaged ? 4 : 0));
    return {count, signal, battery, bits, settings.deviceFlags};
}

std::string toHex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (size_t i = 0; i < size; ++i) {
        hex.push_back(digits[data[i] >> 4]);
        hex.push_back(digits[data[i] & 15]);
    }
    return hex;
}

} // namespace carsim
