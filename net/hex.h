// Conversions between bytes and hexadecimal text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Two upper-case digits per byte, no separators.
std::string bytesToHex(const std::vector<uint8_t>& bytes);

// Digits of either case, two per byte. An empty or odd-length text gives length/2 zero bytes;
// a character that is not a hexadecimal digit gives an empty result.
std::vector<uint8_t> hexToBytes(const std::string& text);
