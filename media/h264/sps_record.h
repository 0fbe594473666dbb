// Every syntax element of an H.264 sequence parameter set (ITU-T H.264 7.3.2.1.1) with its VUI
// (E.1.1) and both HRD parameter sets (E.1.2), in syntax order, one signed 32-bit integer each;
// the standard's names. u(32) elements hold their bit pattern. Elements an SPS does not carry
// stay 0 (chroma_format_idc: 1, its inferred value).
#pragma once

#include <array>
#include <cstdint>

struct HrdParameters {
    static constexpr int kMaxCpbCount = 32;

    int32_t cpb_cnt_minus1 = 0;
    int32_t bit_rate_scale = 0;
    int32_t cpb_size_scale = 0;
    std::array<int32_t, kMaxCpbCount> bit_rate_value_minus1{};
    std::array<int32_t, kMaxCpbCount> cpb_size_value_minus1{};
    std::array<int32_t, kMaxCpbCount> cbr_flag{};
    int32_t initial_cpb_removal_delay_length_minus1 = 0;
    int32_t cpb_removal_delay_length_minus1 = 0;
    int32_t dpb_output_delay_length_minus1 = 0;
    int32_t time_offset_length = 0;

    bool operator==(const HrdParameters&) const = default;
};

struct SpsRecord {
    static constexpr int kScalingListCount = 12; // 6 of 4x4 and 6 of 8x8 at most
    static constexpr int kMaxRefFramesInPocCycle = 256;

    int32_t profile_idc = 0;
    int32_t constraint_set0_flag = 0;
    int32_t constraint_set1_flag = 0;
    int32_t constraint_set2_flag = 0;
    int32_t constraint_set3_flag = 0;
    int32_t constraint_set4_flag = 0;
    int32_t constraint_set5_flag = 0;
    int32_t reserved_zero_2bits = 0; // skipped on reading, written as 0
    int32_t level_idc = 0;
    int32_t seq_parameter_set_id = 0;

    int32_t chroma_format_idc = 1;
    int32_t separate_colour_plane_flag = 0;
    int32_t bit_depth_luma_minus8 = 0;
    int32_t bit_depth_chroma_minus8 = 0;
    int32_t qpprime_y_zero_transform_bypass_flag = 0;
    int32_t seq_scaling_matrix_present_flag = 0;
    std::array<int32_t, kScalingListCount> seq_scaling_list_present_flag{};
    std::array<std::array<int32_t, 16>, 6> scaling_list_4x4{};
    std::array<int32_t, 6> use_default_scaling_matrix_4x4_flag{};
    std::array<std::array<int32_t, 64>, 6> scaling_list_8x8{};
    std::array<int32_t, 6> use_default_scaling_matrix_8x8_flag{};

    int32_t log2_max_frame_num_minus4 = 0;
    int32_t pic_order_cnt_type = 0;
    int32_t log2_max_pic_order_cnt_lsb_minus4 = 0;
    int32_t delta_pic_order_always_zero_flag = 0;
    int32_t offset_for_non_ref_pic = 0;
    int32_t offset_for_top_to_bottom_field = 0;
    int32_t num_ref_frames_in_pic_order_cnt_cycle = 0;
    std::array<int32_t, kMaxRefFramesInPocCycle> offset_for_ref_frame{};
    int32_t max_num_ref_frames = 0;
    int32_t gaps_in_frame_num_value_allowed_flag = 0;
    int32_t pic_width_in_mbs_minus1 = 0;
    int32_t pic_height_in_map_units_minus1 = 0;
    int32_t frame_mbs_only_flag = 0;
    int32_t mb_adaptive_frame_field_flag = 0;
    int32_t direct_8x8_inference_flag = 0;
    int32_t frame_cropping_flag = 0;
    int32_t frame_crop_left_offset = 0;
    int32_t frame_crop_right_offset = 0;
    int32_t frame_crop_top_offset = 0;
    int32_t frame_crop_bottom_offset = 0;
    int32_t vui_parameters_present_flag = 0;

    // vui_parameters()
    int32_t aspect_ratio_info_present_flag = 0;
    int32_t aspect_ratio_idc = 0;
    int32_t sar_width = 0;
    int32_t sar_height = 0;
    int32_t overscan_info_present_flag = 0;
    int32_t overscan_appropriate_flag = 0;
    int32_t video_signal_type_present_flag = 0;
    int32_t video_format = 0;
    int32_t video_full_range_flag = 0;
    int32_t colour_description_present_flag = 0;
    int32_t colour_primaries = 0;
    int32_t transfer_characteristics = 0;
    int32_t matrix_coefficients = 0;
    int32_t chroma_loc_info_present_flag = 0;
    int32_t chroma_sample_loc_type_top_field = 0;
    int32_t chroma_sample_loc_type_bottom_field = 0;
    int32_t timing_info_present_flag = 0;
    int32_t num_units_in_tick = 0;
    int32_t time_scale = 0;
    int32_t fixed_frame_rate_flag = 0;
    int32_t nal_hrd_parameters_present_flag = 0;
    HrdParameters nal_hrd;
    int32_t vcl_hrd_parameters_present_flag = 0;
    HrdParameters vcl_hrd;
    int32_t low_delay_hrd_flag = 0;
    int32_t pic_struct_present_flag = 0;
    int32_t bitstream_restriction_flag = 0;
    int32_t motion_vectors_over_pic_boundaries_flag = 0;
    int32_t max_bytes_per_pic_denom = 0;
    int32_t max_bits_per_mb_denom = 0;
    int32_t log2_max_mv_length_horizontal = 0;
    int32_t log2_max_mv_length_vertical = 0;
    int32_t max_num_reorder_frames = 0;
    int32_t max_dec_frame_buffering = 0;

    bool operator==(const SpsRecord&) const = default;
};
