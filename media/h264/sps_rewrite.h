// The SPS rewrite of the media path: every sequence parameter set a car sends is rewritten
// before it reaches the decoder, so that the decoder holds no picture back (one reference frame,
// no reordering, a decoded picture buffer of one frame) and hands each picture out at once.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "media/h264/sps_record.h"

// The largest RBSP the rewrite writes; an SPS whose rewrite would be longer is left as it is.
inline constexpr size_t kMaxRewrittenSpsBytes = 1024;

// nal: one SPS NAL unit without start code, header byte first, payload escaped as received.
// The record it carries; none when it is no SPS (nal_unit_type 7) or does not parse (see
// readSps).
std::optional<SpsRecord> parseSpsNal(std::span<const uint8_t> nal);

// The elements the rewrite sets: max_num_ref_frames 1 and a bitstream restriction (motion
// vectors over picture boundaries, max_bytes_per_pic_denom 2, max_bits_per_mb_denom 1, motion
// vector lengths 14 and 14, no reordering, one frame of buffering) in a VUI that is added when
// missing. Every other element keeps its value.
void setLowDelay(SpsRecord& sps);

// The rewritten SPS, header byte first, payload escaped again; none when the SPS does not
// parse or its rewrite would not fit kMaxRewrittenSpsBytes.
std::optional<std::vector<uint8_t>> tryRewriteSps(std::span<const uint8_t> nal);

// The rewritten SPS, or nal unchanged when it cannot be rewritten (the decoder may still make
// something of it).
std::vector<uint8_t> rewriteSps(const std::vector<uint8_t>& nal);
