// The two datagrams of device discovery on UDP 19266 (multi-byte numbers little-endian).
//
//   probe, 8 bytes, from the computer:
//   +0  "MDPN"   +4  01   +5  00 00 00
//
//   answer, 116 bytes, from the device to the probe's sender:
//   +---------+------+---------------------------------------------------------+
//   | offset  | size | field                                                   |
//   +---------+------+---------------------------------------------------------+
//   |   0     |   4  | "MDPR"                                                  |
//   |   4     |   2  | length, 116                                             |
//   |   6     |   1  | (not read)                                              |
//   |   7     |   1  | kind                                                    |
//   |   8     |   2  | (not read)                                              |
//   |  10     |   2  | word10                                                  |
//   |  12     |   4  | (not read)                                              |
//   |  16     |  32  | text16, NUL-padded                                      |
//   |  48     |  16  | text48, NUL-padded                                      |
//   |  64     |  16  | bytes64, raw                                            |
//   |  80     |  32  | name, NUL-padded                                        |
//   | 112     |   4  | Adler-32 of bytes 0..111, both sums started from 0      |
//   +---------+------+---------------------------------------------------------+
//
// A text field ends at its first NUL, or fills its whole field when it holds none.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "net/discovery_record.h"

constexpr uint16_t kDiscoveryPort = 19266;
constexpr size_t kDiscoveryAnswerSize = 116;
inline constexpr std::array<uint8_t, 8> kDiscoveryProbe = {'M', 'D', 'P', 'N', 0x01, 0, 0, 0};

// The device an answer describes, or nothing when it is not a sound answer. `received` is the
// byte count the receive reported; nothing past it is read, so bytes an earlier, longer
// datagram left in the buffer never count. `source` becomes the record's address.
std::optional<DiscoveryRecord> parseDiscoveryAnswer(const uint8_t* bytes, size_t received,
                                                    const sockaddr_storage& source);
