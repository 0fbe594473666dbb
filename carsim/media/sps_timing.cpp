#include "carsim/media/sps_timing.h"

#include "carsim/media/rbsp_bits.h"

namespace carsim {

namespace {

bool hasChromaSyntax(uint32_t profile) {
    switch (profile) {
    case 44:
    case 83:
    case 86:
    case 100:
    case 110:
    case 118:
    case 122:
    case 128:
    case 134:
    case 135:
    case 138:
    case 139:
    case 244:
        return true;
    default:
        return false;
    }
}

void skipScalingList(RbspReader& r, int size) {
    int last = 8;
    int next = 8;
    for (int j = 0; j < size && r.ok(); ++j) {
        if (next != 0) {
            next = (last + r.se() + 256) % 256; // delta_scale se(v)
        }
        last = next == 0 ? last : next;
    }
}

// Reads the SPS up to and including timing_info_present_flag. Returns the bit position of that
// flag, or none if the SPS has no VUI or does not parse.
struct FlagPosition {
    bool vuiPresent = false;
    size_t flagBit = 0;
};

std::optional<FlagPosition> findTimingFlag(RbspReader& r) {
    const uint32_t profile = r.u(8); // profile_idc
    r.u(8);                          // constraint flags and reserved_zero_2bits
    r.u(8);                          // level_idc
    r.ue();                          // seq_parameter_set_id
    if (hasChromaSyntax(profile)) {
        const uint32_t chroma = r.ue(); // chroma_format_idc
        if (chroma == 3) {
            r.u(1); // separate_colour_plane_flag
        }
        r.ue();       // bit_depth_luma_minus8
        r.ue();       // bit_depth_chroma_minus8
        r.u(1);       // qpprime_y_zero_transform_bypass_flag
        if (r.u(1)) { // seq_scaling_matrix_present_flag
            const int lists = chroma == 3 ? 12 : 8;
            for (int i = 0; i < lists && r.ok(); ++i) {
                if (r.u(1)) { // seq_scaling_list_present_flag[i]
                    skipScalingList(r, i < 6 ? 16 : 64);
                }
            }
        }
    }
    r.ue();                          // log2_max_frame_num_minus4
    const uint32_t pocType = r.ue(); // pic_order_cnt_type
    if (pocType == 0) {
        r.ue(); // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        r.u(1);                        // delta_pic_order_always_zero_flag
        r.se();                        // offset_for_non_ref_pic
        r.se();                        // offset_for_top_to_bottom_field
        const uint32_t cycle = r.ue(); // num_ref_frames_in_pic_order_cnt_cycle, at most 255
        if (cycle > 255) {
            return std::nullopt;
        }
        for (uint32_t i = 0; i < cycle; ++i) {
            r.se(); // offset_for_ref_frame[i]
        }
    }
    r.ue();        // max_num_ref_frames
    r.u(1);        // gaps_in_frame_num_value_allowed_flag
    r.ue();        // pic_width_in_mbs_minus1
    r.ue();        // pic_height_in_map_units_minus1
    if (!r.u(1)) { // frame_mbs_only_flag
        r.u(1);    // mb_adaptive_frame_field_flag
    }
    r.u(1);       // direct_8x8_inference_flag
    if (r.u(1)) { // frame_cropping_flag
        for (int i = 0; i < 4; ++i) {
            r.ue(); // frame_crop_{left,right,top,bottom}_offset
        }
    }
    FlagPosition result;
    result.vuiPresent = r.u(1) != 0; // vui_parameters_present_flag
    if (result.vuiPresent) {
        if (r.u(1)) {            // aspect_ratio_info_present_flag
            if (r.u(8) == 255) { // aspect_ratio_idc: Extended_SAR
                r.u(16);         // sar_width
                r.u(16);         // sar_height
            }
        }
        if (r.u(1)) { // overscan_info_present_flag
            r.u(1);   // overscan_appropriate_flag
        }
        if (r.u(1)) {     // video_signal_type_present_flag
            r.u(3);       // video_format
            r.u(1);       // video_full_range_flag
            if (r.u(1)) { // colour_description_present_flag
                r.u(24);  // colour_primaries, transfer_characteristics, matrix_coefficients
            }
        }
        if (r.u(1)) { // chroma_loc_info_present_flag
            r.ue();   // chroma_sample_loc_type_top_field
            r.ue();   // chroma_sample_loc_type_bottom_field
        }
        result.flagBit = r.bitPosition();
    }
    if (!r.ok()) {
        return std::nullopt;
    }
    return result;
}

// The unescaped payload after the NAL header; none for anything but an SPS.
std::optional<Bytes> spsPayload(const Bytes& spsNal) {
    if (nalType(spsNal) != 7) {
        return std::nullopt;
    }
    return unescapeRbsp(spsNal.data() + 1, spsNal.size() - 1);
}

} // namespace

std::optional<SpsTiming> readSpsTiming(const Bytes& spsNal) {
    const auto rbsp = spsPayload(spsNal);
    if (!rbsp) {
        return std::nullopt;
    }
    RbspReader r(*rbsp);
    const auto flag = findTimingFlag(r);
    if (!flag) {
        return std::nullopt;
    }
    SpsTiming timing;
    if (flag->vuiPresent && r.u(1)) {
        timing.present = true;
        timing.numUnitsInTick = r.u(32);
        timing.timeScale = r.u(32);
    }
    if (!r.ok()) {
        return std::nullopt;
    }
    return timing;
}

std::optional<Bytes> removeSpsTiming(const Bytes& spsNal) {
    const auto rbsp = spsPayload(spsNal);
    if (!rbsp) {
        return std::nullopt;
    }
    RbspReader r(*rbsp);
    const auto flag = findTimingFlag(r);
    if (!flag) {
        return std::nullopt;
    }
    if (!flag->vuiPresent || !r.bitAt(flag->flagBit)) {
        return spsNal;
    }
    // The last one bit of the RBSP is its stop bit; everything after the timing block up to it
    // is copied as it stands.
    size_t stopBit = r.bitCount();
    while (stopBit > 0 && !r.bitAt(stopBit - 1)) {
        --stopBit;
    }
    const size_t timingEnd = flag->flagBit + 1 + 32 + 32 + 1; // flag, two u(32), fixed_frame_rate
    if (stopBit == 0 || stopBit - 1 < timingEnd) {
        return std::nullopt;
    }
    RbspWriter w;
    for (size_t i = 0; i < flag->flagBit; ++i) {
        w.bit(r.bitAt(i));
    }
    w.bit(false); // timing_info_present_flag
    for (size_t i = timingEnd; i < stopBit - 1; ++i) {
        w.bit(r.bitAt(i));
    }
    w.trailingBits();
    Bytes out{spsNal[0]};
    const Bytes escaped = escapeRbsp(w.bytes());
    out.insert(out.end(), escaped.begin(), escaped.end());
    return out;
}

} // namespace carsim
