// SPS NAL units written element by element by the tests themselves, apart from writeSps, with
// the knobs the tests turn: scaling lists as delta_scale runs, a picture-order-count cycle, VUI
// timing, an HRD and the bitstream restriction, and values beyond the standard's limits.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "tests/media/h264/h264_streams.h"

struct SpsKnobs {
    uint32_t profileIdc = 100, constraintFlags = 0, levelIdc = 30, spsId = 0;
    uint32_t chromaFormatIdc = 1;
    // One delta_scale run per list in order; an empty run leaves that list out. No runs at all:
    // no scaling matrix.
    std::vector<std::vector<int32_t>> scalingDeltas;
    uint32_t log2MaxFrameNumMinus4 = 0, pocType = 2, log2MaxPocLsbMinus4 = 0;
    uint32_t pocCycleLength = 0; // pic_order_cnt_type 1: this many offset_for_ref_frame
    int32_t pocCycleOffset = 1;
    uint32_t maxNumRefFrames = 1, widthMbsMinus1 = 10, heightMapUnitsMinus1 = 8;
    bool vui = false;
    std::optional<std::pair<uint32_t, uint32_t>> timing; // num_units_in_tick, time_scale
    std::optional<uint32_t> nalHrdCpbCntMinus1;
    std::optional<std::array<uint32_t, 7>> restriction; // the elements after the flag
    size_t cutBytes = 0;                                // dropped from the end
};

// Header byte 0x67, then the escaped RBSP.
Bytes craftSps(const SpsKnobs& knobs);

// The knobs that reproduce the picture-level elements of a real stream's SPS (profile, level,
// frame number and order count coding, reference frames, size), without VUI.
struct SpsRecord;
SpsKnobs knobsLike(const SpsRecord& sps);
