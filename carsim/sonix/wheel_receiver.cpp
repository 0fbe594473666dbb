#include "carsim/sonix/wheel_receiver.h"

#include <cstring>

namespace carsim {

std::optional<WheelCommand> parseWheelPacket(const uint8_t* data, size_t size) {
    if (size != 12 || std::memcmp(data, "WCTL", 4) != 0) {
        return std::nullopt;
    }
    auto le32 = [data](size_t at) {
        uint32_t v = static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
                     static_cast<uint32_t>(data[at + 2]) << 16 |
                     static_cast<uint32_t>(data[at + 3]) << 24;
        return static_cast<int32_t>(v);
    };
    return WheelCommand{le32(4), le32(8)};
}

WheelReceiver::WheelReceiver(CarState& state, WireLog& log)
    : state(state),
      endpoint(kPort, log, [this](int, const uint8_t* data, size_t size, const sockaddr_storage&) {
          if (auto command = parseWheelPacket(data, size)) {
              this->state.update([&](CarSettings& s) {
                  s.wheel.x = command->x;
                  s.wheel.y = command->y;
                  ++s.wheel.packets;
              });
          }
      }) {}

} // namespace carsim
