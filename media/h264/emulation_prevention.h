// Emulation prevention of H.264 NAL units (ITU-T H.264 7.4.1): inside a NAL unit, two zero
// bytes are never followed by a byte of 3 or less unless that byte is an inserted 03, so that
// no start code (00 00 01) or its leading zeros can appear inside.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Appends the RBSP of the escaped payload to rbsp, dropping every 03 that follows 00 00.
void removeEmulationPrevention(std::span<const uint8_t> payload, std::vector<uint8_t>& rbsp);

// Appends the escaped form of the RBSP to payload: 03 goes in front of any byte of 3 or less
// after two zeros, and after two zeros at the end.
void insertEmulationPrevention(std::span<const uint8_t> rbsp, std::vector<uint8_t>& payload);
