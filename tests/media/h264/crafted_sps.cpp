#include "tests/media/h264/crafted_sps.h"

#include "carsim/media/annexb.h"
#include "media/h264/bit_writer.h"
#include "media/h264/sps_record.h"

Bytes craftSps(const SpsKnobs& k) {
    std::vector<uint8_t> buffer(8192);
    BitWriter w(buffer);
    w.u(8, k.profileIdc);
    w.u(8, k.constraintFlags);
    w.u(8, k.levelIdc);
    w.ue(k.spsId);
    if (k.profileIdc == 100 || k.profileIdc == 244) {
        w.ue(k.chromaFormatIdc);
        if (k.chromaFormatIdc == 3) {
            w.u(1, 0); // separate_colour_plane_flag
        }
        w.ue(0);   // bit_depth_luma_minus8
        w.ue(0);   // bit_depth_chroma_minus8
        w.u(1, 0); // qpprime_y_zero_transform_bypass_flag
        w.u(1, k.scalingDeltas.empty() ? 0 : 1);
        const size_t lists = k.scalingDeltas.empty() ? 0 : k.chromaFormatIdc == 3 ? 12 : 8;
        for (size_t i = 0; i < lists; ++i) {
            const bool present = i < k.scalingDeltas.size() && !k.scalingDeltas[i].empty();
            w.u(1, present ? 1 : 0);
            for (const int32_t delta : present ? k.scalingDeltas[i] : std::vector<int32_t>{}) {
                w.se(delta);
            }
        }
    }
    w.ue(k.log2MaxFrameNumMinus4);
    w.ue(k.pocType);
    if (k.pocType == 0) {
        w.ue(k.log2MaxPocLsbMinus4);
    } else if (k.pocType == 1) {
        w.u(1, 0); // delta_pic_order_always_zero_flag
        w.se(0);   // offset_for_non_ref_pic
        w.se(0);   // offset_for_top_to_bottom_field
        w.ue(k.pocCycleLength);
        for (uint32_t i = 0; i < k.pocCycleLength && i < 300; ++i) {
            w.se(k.pocCycleOffset);
        }
    }
    w.ue(k.maxNumRefFrames);
    w.u(1, 0); // gaps_in_frame_num_value_allowed_flag
    w.ue(k.widthMbsMinus1);
    w.ue(k.heightMapUnitsMinus1);
    w.u(1, 1); // frame_mbs_only_flag
    w.u(1, 1); // direct_8x8_inference_flag
    w.u(1, 0); // frame_cropping_flag
    w.u(1, k.vui ? 1 : 0);
    if (k.vui) {
        w.u(4, 0); // aspect ratio, overscan, video signal, chroma location: none
        w.u(1, k.timing ? 1 : 0);
        if (k.timing) {
            w.u(32, k.timing->first);
            w.u(32, k.timing->second);
            w.u(1, 1); // fixed_frame_rate_flag
        }
        w.u(1, k.nalHrdCpbCntMinus1 ? 1 : 0);
        if (k.nalHrdCpbCntMinus1) {
            w.ue(*k.nalHrdCpbCntMinus1);
            w.u(8, 0x44); // bit_rate_scale, cpb_size_scale
            for (uint32_t i = 0; i <= *k.nalHrdCpbCntMinus1 && i < 40; ++i) {
                w.ue(999);
                w.ue(1999);
                w.u(1, 0);
            }
            for (const uint32_t length : {23u, 23u, 23u, 24u}) {
                w.u(5, length); // the three delay lengths minus 1, time_offset_length
            }
        }
        w.u(1, 0); // vcl_hrd_parameters_present_flag
        if (k.nalHrdCpbCntMinus1) {
            w.u(1, 0); // low_delay_hrd_flag
        }
        w.u(1, 0); // pic_struct_present_flag
        w.u(1, k.restriction ? 1 : 0);
        if (k.restriction) {
            w.u(1, (*k.restriction)[0]);
            for (size_t i = 1; i < 7; ++i) {
                w.ue((*k.restriction)[i]);
            }
        }
    }
    w.trailingBits();
    const auto rbsp = w.written();
    Bytes nal =
        carsim::escapeRbsp(Bytes(rbsp.begin(), rbsp.end() - std::min(k.cutBytes, rbsp.size())));
    nal.insert(nal.begin(), 0x67);
    return nal;
}

SpsKnobs knobsLike(const SpsRecord& s) {
    SpsKnobs k;
    k.profileIdc = static_cast<uint32_t>(s.profile_idc);
    k.constraintFlags =
        static_cast<uint32_t>(s.constraint_set0_flag << 7 | s.constraint_set1_flag << 6 |
                              s.constraint_set2_flag << 5 | s.constraint_set3_flag << 4);
    k.levelIdc = static_cast<uint32_t>(s.level_idc);
    k.chromaFormatIdc = static_cast<uint32_t>(s.chroma_format_idc);
    k.log2MaxFrameNumMinus4 = static_cast<uint32_t>(s.log2_max_frame_num_minus4);
    k.pocType = static_cast<uint32_t>(s.pic_order_cnt_type);
    k.log2MaxPocLsbMinus4 = static_cast<uint32_t>(s.log2_max_pic_order_cnt_lsb_minus4);
    k.maxNumRefFrames = static_cast<uint32_t>(s.max_num_ref_frames);
    k.widthMbsMinus1 = static_cast<uint32_t>(s.pic_width_in_mbs_minus1);
    k.heightMapUnitsMinus1 = static_cast<uint32_t>(s.pic_height_in_map_units_minus1);
    return k;
}
