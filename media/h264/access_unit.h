// The access unit handed to the listener and the decoder: one slice in Annex B form with 4-byte
// start codes, the parameter sets in front of an IDR slice.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Fills out (cleared first, its capacity kept for the next one) with 00 00 00 01, then for an
// IDR slice (nal_unit_type 5) the SPS, 00 00 00 01, the PPS and 00 00 00 01, then the slice.
// Each NAL unit is given without start code, header byte first.
void buildAccessUnit(std::span<const uint8_t> slice, std::span<const uint8_t> sps,
                     std::span<const uint8_t> pps, std::vector<uint8_t>& out);
