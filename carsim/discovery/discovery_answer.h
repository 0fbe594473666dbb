#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace carsim {

// Discovery datagrams (all numbers little-endian):
//
//   probe, 8 bytes:   "MDPN" 01 00 00 00
//
//   answer, 116 bytes:
//   +0   "MDPR"           +4  u16 length (116)   +6  unused   +7  kind
//   +8   unused           +10 u16 word10         +12 unused
//   +16  text16[32]       +48 text48[16]         +64 bytes64[16]
//   +80  name[32]         +112 u32 Adler-32 of bytes 0..111, started from 0
constexpr size_t kProbeSize = 8;
constexpr size_t kAnswerSize = 116;

struct DiscoveryIdentity {
    uint8_t kind = 0;
    uint16_t word10 = 0;
    std::string text16;
    std::string text48;
    std::array<uint8_t, 16> bytes64{};
    std::string name;
};

uint32_t adler32(uint32_t start, const uint8_t* data, size_t size);
bool isProbe(const uint8_t* data, size_t size);

// Sixteen bytes that identify a car, the same for the same name on every run.
std::array<uint8_t, 16> idBytesForName(const std::string& name);

std::vector<uint8_t> buildAnswer(const DiscoveryIdentity& identity);

// Answers a client must reject, sent beside the good one to test its checks. Each carries a
// name of its own so that a client accepting one shows an extra device.
std::vector<std::vector<uint8_t>> buildMalformedAnswers(const DiscoveryIdentity& identity);

} // namespace carsim
