#include "media/h264/sps_rewrite.h"

#include <array>

#include "media/h264/bit_reader.h"
#include "media/h264/bit_writer.h"
#include "media/h264/emulation_prevention.h"
#include "media/h264/sps_syntax.h"

std::optional<SpsRecord> parseSpsNal(std::span<const uint8_t> nal) {
    constexpr int kSpsType = 7;
    if (nal.empty() || (nal[0] & 0x1F) != kSpsType) {
        return std::nullopt;
    }
    // The payload as received may hold 00 00 03 (VUI timing of 1 tick always does): the
    // syntax is read from the RBSP without those 03 bytes.
    std::vector<uint8_t> rbsp;
    removeEmulationPrevention(nal.subspan(1), rbsp);
    BitReader reader(rbsp);
    SpsRecord sps;
    if (!readSps(reader, sps)) {
        return std::nullopt;
    }
    return sps;
}

void setLowDelay(SpsRecord& sps) {
    sps.max_num_ref_frames = 1;
    sps.vui_parameters_present_flag = 1;
    sps.bitstream_restriction_flag = 1;
    sps.motion_vectors_over_pic_boundaries_flag = 1;
    sps.max_bytes_per_pic_denom = 2;
    sps.max_bits_per_mb_denom = 1;
    sps.log2_max_mv_length_horizontal = 14;
    sps.log2_max_mv_length_vertical = 14;
    sps.max_num_reorder_frames = 0;
    sps.max_dec_frame_buffering = 1;
}

std::optional<std::vector<uint8_t>> tryRewriteSps(std::span<const uint8_t> nal) {
    std::optional<SpsRecord> sps = parseSpsNal(nal);
    if (!sps) {
        return std::nullopt;
    }
    setLowDelay(*sps);
    std::array<uint8_t, kMaxRewrittenSpsBytes> buffer;
    BitWriter writer(buffer);
    writeSps(writer, *sps);
    writer.trailingBits();
    if (writer.failed()) {
        return std::nullopt;
    }
    std::vector<uint8_t> rewritten{nal[0]};
    // Escaped again: written as is, a 00 00 01 in the timing words would be a start code.
    insertEmulationPrevention(writer.written(), rewritten);
    return rewritten;
}

std::vector<uint8_t> rewriteSps(const std::vector<uint8_t>& nal) {
    std::optional<std::vector<uint8_t>> rewritten = tryRewriteSps(nal);
    return rewritten ? std::move(*rewritten) : nal;
}
