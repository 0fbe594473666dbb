#include "media/h264/sps_syntax.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

constexpr int32_t kMaxCode = std::numeric_limits<int32_t>::max(); // ue(v) limit of BitReader
constexpr int32_t kMinSigned = -((1 << 30) - 1);                  // se(v) range of BitReader
constexpr int32_t kMaxSigned = 1 << 30;
// MaxDpbFrames never exceeds 16; reference and buffering counts are bounded by it.
constexpr int32_t kMaxDpbFrames = 16;

constexpr bool hasChromaSyntax(int32_t profileIdc) {
    switch (profileIdc) {
    case 44:
    case 83:
    case 86:
    case 100:
    case 110:
    case 118:
    case 122:
    case 128:
    case 134:
    case 138:
    case 139:
    case 244:
        return true;
    default:
        return false;
    }
}

// delta_scale moves the scale around a circle of 256; the shortest step lies in -128 .. 127.
constexpr int32_t wrapDelta(int32_t delta) {
    return ((delta + 128) % 256 + 256) % 256 - 128;
}

int seBits(int32_t value) {
    const uint64_t code = value > 0 ? 2 * uint64_t(value) - 1 : 2 * uint64_t(-int64_t{value});
    return 2 * (std::bit_width(code + 1) - 1) + 1;
}

// Reads elements into the record; an element outside its limits fails the reader and reads
// as 0, so that nothing it sizes runs past the record's arrays.
class Reading {
public:
    explicit Reading(BitReader& reader) : r_(reader) {}

    bool failed() const { return r_.failed(); }

    void u(int bits, int32_t& value) { value = static_cast<int32_t>(r_.u(bits)); }

    void ue(int32_t& value, int32_t max = kMaxCode) {
        const uint32_t code = r_.ue();
        value = code <= static_cast<uint32_t>(max) ? static_cast<int32_t>(code) : reject();
    }

    void se(int32_t& value, int32_t min = kMinSigned, int32_t max = kMaxSigned) {
        const int32_t v = r_.se();
        value = (v >= min && v <= max) ? v : reject();
    }

    // scaling_list(): each entry is the running scale; a scale of 0 at the first entry selects
    // the default list, a later 0 repeats the last scale to the end.
    template <size_t N>
    void scalingList(std::array<int32_t, N>& list, int32_t& useDefault) {
        int32_t lastScale = 8;
        int32_t nextScale = 8;
        for (size_t j = 0; j < N; ++j) {
            if (nextScale != 0) {
                int32_t delta = 0;
                se(delta, -128, 127); // delta_scale se(v)
                nextScale = (lastScale + delta + 256) % 256;
                useDefault = (j == 0 && nextScale == 0) ? 1 : 0;
            }
            list[j] = nextScale == 0 ? lastScale : nextScale;
            lastScale = list[j];
        }
    }

private:
    int32_t reject() {
        r_.fail();
        return 0;
    }

    BitReader& r_;
};

// Writes elements from the record under the same limits as Reading.
class Writing {
public:
    explicit Writing(BitWriter& writer) : w_(writer) {}

    bool failed() const { return w_.failed(); }

    void u(int bits, int32_t value) { w_.u(bits, static_cast<uint32_t>(value)); }

    void ue(int32_t value, int32_t max = kMaxCode) {
        if (value < 0 || value > max) {
            w_.fail();
            return;
        }
        w_.ue(static_cast<uint32_t>(value));
    }

    void se(int32_t value, int32_t min = kMinSigned, int32_t max = kMaxSigned) {
        if (value < min || value > max) {
            w_.fail();
            return;
        }
        w_.se(value);
    }

    // The shortest coding of the list: deltas up to the last change, then either a delta to 0
    // (repeat the last scale) or zero deltas, whichever takes fewer bits.
    template <size_t N>
    void scalingList(const std::array<int32_t, N>& list, int32_t useDefault) {
        if (useDefault != 0) {
            se(-8); // delta_scale se(v): 8 - 8 = 0 at the first entry selects the default list
            return;
        }
        for (const int32_t entry : list) {
            if (entry < 1 || entry > 255) {
                w_.fail();
                return;
            }
        }
        size_t run = N; // list[run - 1 .. N) all hold one value
        while (run > 1 && list[run - 1] == list[run - 2]) {
            --run;
        }
        int32_t lastScale = 8;
        for (size_t j = 0; j < run; ++j) {
            se(wrapDelta(list[j] - lastScale), -128, 127); // delta_scale se(v)
            lastScale = list[j];
        }
        if (run == N) {
            return;
        }
        const int32_t toZero = wrapDelta(-lastScale);
        if (seBits(toZero) <= static_cast<int>(N - run)) {
            se(toZero, -128, 127); // delta_scale se(v) to a scale of 0
            return;
        }
        for (size_t j = run; j < N; ++j) {
            se(0, -128, 127); // delta_scale se(v)
        }
    }

private:
    BitWriter& w_;
};

template <class Coder, class Hrd>
void hrdParameters(Coder& c, Hrd& h) {
    c.ue(h.cpb_cnt_minus1, HrdParameters::kMaxCpbCount - 1); // cpb_cnt_minus1 ue(v)
    c.u(4, h.bit_rate_scale);                                // bit_rate_scale u(4)
    c.u(4, h.cpb_size_scale);                                // cpb_size_scale u(4)
    if (c.failed()) {
        return; // cpb_cnt_minus1 sizes the loop
    }
    for (int32_t i = 0; i <= h.cpb_cnt_minus1; ++i) {
        c.ue(h.bit_rate_value_minus1[i]); // bit_rate_value_minus1[i] ue(v)
        c.ue(h.cpb_size_value_minus1[i]); // cpb_size_value_minus1[i] ue(v)
        c.u(1, h.cbr_flag[i]);            // cbr_flag[i] u(1)
    }
    // initial_cpb_removal_delay_length_minus1 u(5)
    c.u(5, h.initial_cpb_removal_delay_length_minus1);
    c.u(5, h.cpb_removal_delay_length_minus1); // cpb_removal_delay_length_minus1 u(5)
    c.u(5, h.dpb_output_delay_length_minus1);  // dpb_output_delay_length_minus1 u(5)
    c.u(5, h.time_offset_length);              // time_offset_length u(5)
}

template <class Coder, class Sps>
void vuiParameters(Coder& c, Sps& s) {
    constexpr int32_t kExtendedSar = 255;
    c.u(1, s.aspect_ratio_info_present_flag); // aspect_ratio_info_present_flag u(1)
    if (s.aspect_ratio_info_present_flag) {
        c.u(8, s.aspect_ratio_idc); // aspect_ratio_idc u(8)
        if (s.aspect_ratio_idc == kExtendedSar) {
            c.u(16, s.sar_width);  // sar_width u(16)
            c.u(16, s.sar_height); // sar_height u(16)
        }
    }
    c.u(1, s.overscan_info_present_flag); // overscan_info_present_flag u(1)
    if (s.overscan_info_present_flag) {
        c.u(1, s.overscan_appropriate_flag); // overscan_appropriate_flag u(1)
    }
    c.u(1, s.video_signal_type_present_flag); // video_signal_type_present_flag u(1)
    if (s.video_signal_type_present_flag) {
        c.u(3, s.video_format);                    // video_format u(3)
        c.u(1, s.video_full_range_flag);           // video_full_range_flag u(1)
        c.u(1, s.colour_description_present_flag); // colour_description_present_flag u(1)
        if (s.colour_description_present_flag) {
            c.u(8, s.colour_primaries);         // colour_primaries u(8)
            c.u(8, s.transfer_characteristics); // transfer_characteristics u(8)
            c.u(8, s.matrix_coefficients);      // matrix_coefficients u(8)
        }
    }
    c.u(1, s.chroma_loc_info_present_flag); // chroma_loc_info_present_flag u(1)
    if (s.chroma_loc_info_present_flag) {
        c.ue(s.chroma_sample_loc_type_top_field, 5);    // chroma_sample_loc_type_top_field ue(v)
        c.ue(s.chroma_sample_loc_type_bottom_field, 5); // chroma_sample_loc_type_bottom_field ue(v)
    }
    c.u(1, s.timing_info_present_flag); // timing_info_present_flag u(1)
    if (s.timing_info_present_flag) {
        c.u(32, s.num_units_in_tick);    // num_units_in_tick u(32)
        c.u(32, s.time_scale);           // time_scale u(32)
        c.u(1, s.fixed_frame_rate_flag); // fixed_frame_rate_flag u(1)
    }
    c.u(1, s.nal_hrd_parameters_present_flag); // nal_hrd_parameters_present_flag u(1)
    if (s.nal_hrd_parameters_present_flag) {
        hrdParameters(c, s.nal_hrd); // hrd_parameters()
    }
    c.u(1, s.vcl_hrd_parameters_present_flag); // vcl_hrd_parameters_present_flag u(1)
    if (s.vcl_hrd_parameters_present_flag) {
        hrdParameters(c, s.vcl_hrd); // hrd_parameters()
    }
    if (s.nal_hrd_parameters_present_flag || s.vcl_hrd_parameters_present_flag) {
        c.u(1, s.low_delay_hrd_flag); // low_delay_hrd_flag u(1)
    }
    c.u(1, s.pic_struct_present_flag);    // pic_struct_present_flag u(1)
    c.u(1, s.bitstream_restriction_flag); // bitstream_restriction_flag u(1)
    if (s.bitstream_restriction_flag) {
        // motion_vectors_over_pic_boundaries_flag u(1)
        c.u(1, s.motion_vectors_over_pic_boundaries_flag);
        c.ue(s.max_bytes_per_pic_denom, 16);            // max_bytes_per_pic_denom ue(v)
        c.ue(s.max_bits_per_mb_denom, 16);              // max_bits_per_mb_denom ue(v)
        c.ue(s.log2_max_mv_length_horizontal, 16);      // log2_max_mv_length_horizontal ue(v)
        c.ue(s.log2_max_mv_length_vertical, 16);        // log2_max_mv_length_vertical ue(v)
        c.ue(s.max_num_reorder_frames, kMaxDpbFrames);  // max_num_reorder_frames ue(v)
        c.ue(s.max_dec_frame_buffering, kMaxDpbFrames); // max_dec_frame_buffering ue(v)
    }
}

template <class Coder, class Sps>
void scalingMatrix(Coder& c, Sps& s) {
    const int count = s.chroma_format_idc == 3 ? 12 : 8;
    for (int i = 0; i < count; ++i) {
        c.u(1, s.seq_scaling_list_present_flag[i]); // seq_scaling_list_present_flag[i] u(1)
        if (!s.seq_scaling_list_present_flag[i]) {
            continue;
        }
        if (i < 6) {
            c.scalingList(s.scaling_list_4x4[i], s.use_default_scaling_matrix_4x4_flag[i]);
        } else {
            c.scalingList(s.scaling_list_8x8[i - 6], s.use_default_scaling_matrix_8x8_flag[i - 6]);
        }
    }
}

template <class Coder, class Sps>
void seqParameterSetData(Coder& c, Sps& s) {
    c.u(8, s.profile_idc);          // profile_idc u(8)
    c.u(1, s.constraint_set0_flag); // constraint_set0_flag u(1)
    c.u(1, s.constraint_set1_flag); // constraint_set1_flag u(1)
    c.u(1, s.constraint_set2_flag); // constraint_set2_flag u(1)
    c.u(1, s.constraint_set3_flag); // constraint_set3_flag u(1)
    c.u(1, s.constraint_set4_flag); // constraint_set4_flag u(1)
    c.u(1, s.constraint_set5_flag); // constraint_set5_flag u(1)
    int32_t reserved = 0;
    c.u(2, reserved);                 // reserved_zero_2bits u(2), kept as 0
    c.u(8, s.level_idc);              // level_idc u(8)
    c.ue(s.seq_parameter_set_id, 31); // seq_parameter_set_id ue(v)
    if (hasChromaSyntax(s.profile_idc)) {
        c.ue(s.chroma_format_idc, 3); // chroma_format_idc ue(v)
        if (s.chroma_format_idc == 3) {
            c.u(1, s.separate_colour_plane_flag); // separate_colour_plane_flag u(1)
        }
        c.ue(s.bit_depth_luma_minus8, 6);               // bit_depth_luma_minus8 ue(v)
        c.ue(s.bit_depth_chroma_minus8, 6);             // bit_depth_chroma_minus8 ue(v)
        c.u(1, s.qpprime_y_zero_transform_bypass_flag); // qpprime_y_zero_transform_bypass_flag u(1)
        c.u(1, s.seq_scaling_matrix_present_flag);      // seq_scaling_matrix_present_flag u(1)
        if (c.failed()) {
            return; // chroma_format_idc sizes the scaling matrix
        }
        if (s.seq_scaling_matrix_present_flag) {
            scalingMatrix(c, s);
        }
    }
    c.ue(s.log2_max_frame_num_minus4, 12); // log2_max_frame_num_minus4 ue(v)
    c.ue(s.pic_order_cnt_type, 2);         // pic_order_cnt_type ue(v)
    if (s.pic_order_cnt_type == 0) {
        c.ue(s.log2_max_pic_order_cnt_lsb_minus4, 12); // log2_max_pic_order_cnt_lsb_minus4 ue(v)
    } else if (s.pic_order_cnt_type == 1) {
        c.u(1, s.delta_pic_order_always_zero_flag); // delta_pic_order_always_zero_flag u(1)
        c.se(s.offset_for_non_ref_pic);             // offset_for_non_ref_pic se(v)
        c.se(s.offset_for_top_to_bottom_field);     // offset_for_top_to_bottom_field se(v)
        // num_ref_frames_in_pic_order_cnt_cycle ue(v)
        c.ue(s.num_ref_frames_in_pic_order_cnt_cycle, SpsRecord::kMaxRefFramesInPocCycle - 1);
        if (c.failed()) {
            return; // the cycle length sizes the loop
        }
        for (int32_t i = 0; i < s.num_ref_frames_in_pic_order_cnt_cycle; ++i) {
            c.se(s.offset_for_ref_frame[i]); // offset_for_ref_frame[i] se(v)
        }
    }
    c.ue(s.max_num_ref_frames, kMaxDpbFrames);      // max_num_ref_frames ue(v)
    c.u(1, s.gaps_in_frame_num_value_allowed_flag); // gaps_in_frame_num_value_allowed_flag u(1)
    c.ue(s.pic_width_in_mbs_minus1);                // pic_width_in_mbs_minus1 ue(v)
    c.ue(s.pic_height_in_map_units_minus1);         // pic_height_in_map_units_minus1 ue(v)
    c.u(1, s.frame_mbs_only_flag);                  // frame_mbs_only_flag u(1)
    if (!s.frame_mbs_only_flag) {
        c.u(1, s.mb_adaptive_frame_field_flag); // mb_adaptive_frame_field_flag u(1)
    }
    c.u(1, s.direct_8x8_inference_flag); // direct_8x8_inference_flag u(1)
    c.u(1, s.frame_cropping_flag);       // frame_cropping_flag u(1)
    if (s.frame_cropping_flag) {
        c.ue(s.frame_crop_left_offset);   // frame_crop_left_offset ue(v)
        c.ue(s.frame_crop_right_offset);  // frame_crop_right_offset ue(v)
        c.ue(s.frame_crop_top_offset);    // frame_crop_top_offset ue(v)
        c.ue(s.frame_crop_bottom_offset); // frame_crop_bottom_offset ue(v)
    }
    c.u(1, s.vui_parameters_present_flag); // vui_parameters_present_flag u(1)
    if (c.failed()) {
        return;
    }
    if (s.vui_parameters_present_flag) {
        vuiParameters(c, s);
    }
}

} // namespace

bool readSps(BitReader& reader, SpsRecord& sps) {
    sps = SpsRecord{};
    Reading reading(reader);
    seqParameterSetData(reading, sps);
    return !reader.failed();
}

void writeSps(BitWriter& writer, const SpsRecord& sps) {
    Writing writing(writer);
    seqParameterSetData(writing, sps);
}
