#include "media/h264/emulation_prevention.h"

namespace {
constexpr uint8_t kPreventionByte = 0x03;
} // namespace

void removeEmulationPrevention(std::span<const uint8_t> payload, std::vector<uint8_t>& rbsp) {
    rbsp.reserve(rbsp.size() + payload.size());
    int zeros = 0;
    for (const uint8_t byte : payload) {
        if (zeros >= 2 && byte == kPreventionByte) {
            zeros = 0;
            continue;
        }
        rbsp.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
}

void insertEmulationPrevention(std::span<const uint8_t> rbsp, std::vector<uint8_t>& payload) {
    payload.reserve(payload.size() + rbsp.size() + rbsp.size() / 2 + 1);
    int zeros = 0;
    for (const uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= kPreventionByte) {
            payload.push_back(kPreventionByte);
            zeros = 0;
        }
        payload.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    // Zeros at the end would run into the next start code (only a cabac_zero_word puts them
    // there, never an SPS).
    if (zeros >= 2) {
        payload.push_back(kPreventionByte);
    }
}
