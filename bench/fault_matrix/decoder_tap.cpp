#include "bench/fault_matrix/decoder_tap.h"

#include <cstdarg>
#include <cstdio>
#include <dlfcn.h>

#include "media/h264/bit_reader.h"
#include "media/h264/emulation_prevention.h"
#include "media/h264/nal_units.h"
#include "media/h264/sps_rewrite.h"
#include "source/ffmpeg.h"

namespace faults {

namespace {

constexpr size_t kProblemsKept = 5;

void logCallback(void* /*context*/, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_ERROR) {
        return;
    }
    char text[512];
    va_list copy;
    va_copy(copy, arguments);
    std::vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    DecoderTap::instance().onLog(level, text);
}

std::string describeBytes(const uint8_t* data, size_t size) {
    std::string text;
    char hex[4];
    for (size_t i = 0; i < size && i < 12; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", data[i]);
        text += hex;
    }
    return text + " (" + std::to_string(size) + " bytes)";
}

} // namespace

DecoderTap::DecoderTap() {
    av_log_set_callback(logCallback);
}

DecoderTap& DecoderTap::instance() {
    static DecoderTap tap;
    return tap;
}

void DecoderTap::restart(const ReferenceStream* newReference) {
    std::lock_guard lock(mutex);
    reference = newReference;
    counts = DecoderFigures{};
    haveFrameNum = false;
    inGap = false;
}

DecoderFigures DecoderTap::figures() const {
    std::lock_guard lock(mutex);
    return counts;
}

void DecoderTap::note(const std::string& problem) {
    if (counts.firstProblems.size() < kProblemsKept) {
        counts.firstProblems.push_back(problem);
    }
}

void DecoderTap::onLog(int level, const char* text) {
    std::lock_guard lock(mutex);
    ++counts.decoderErrors;
    note("libavcodec level " + std::to_string(level) + ": " + text);
}

void DecoderTap::onPicture() {
    std::lock_guard lock(mutex);
    const Clock::time_point now = Clock::now();
    if (counts.pictures++ == 0) {
        counts.firstPicture = now;
    }
    counts.pictureTimes.push_back(now);
}

void DecoderTap::onAccessUnit(const uint8_t* data, size_t size) {
    std::vector<std::pair<const uint8_t*, size_t>> nals;
    forEachNalUnit(std::span<const uint8_t>(data, size),
                   [&](NalSpan nal) { nals.emplace_back(nal.data(), nal.size()); });
    std::lock_guard lock(mutex);
    if (counts.accessUnits++ == 0) {
        counts.firstUnit = Clock::now();
    }
    if (nals.empty()) {
        note("access unit without NAL units: " + describeBytes(data, size));
        return;
    }
    for (const auto& [nal, length] : nals) {
        const int type = nal[0] & 0x1F;
        if (type == kNalSps) {
            if (const auto sps = parseSpsNal(NalSpan(nal, length))) {
                log2MaxFrameNum = sps->log2_max_frame_num_minus4 + 4;
            }
        }
    }
    const auto& [slice, sliceSize] = nals.back();
    const bool idr = (slice[0] & 0x1F) == kNalIdrSlice;
    counts.idrUnits += idr ? 1 : 0;
    if (reference != nullptr) {
        checkAgainstReference(nals);
    }
    followFrameNumbers(slice, sliceSize, idr);
}

void DecoderTap::checkAgainstReference(const std::vector<std::pair<const uint8_t*, size_t>>& nals) {
    ++counts.checked;
    const auto same = [](const std::pair<const uint8_t*, size_t>& nal,
                         const std::vector<uint8_t>& want) {
        return nal.second == want.size() && std::equal(want.begin(), want.end(), nal.first);
    };
    const auto& [slice, sliceSize] = nals.back();
    const bool idr = (slice[0] & 0x1F) == kNalIdrSlice;
    bool ok =
        reference->slices.contains(std::string(reinterpret_cast<const char*>(slice), sliceSize));
    if (idr) {
        ok = ok && nals.size() == 3 && same(nals[0], reference->rewrittenSps) &&
             same(nals[1], reference->pps);
    } else {
        ok = ok && nals.size() == 1;
    }
    if (!ok) {
        ++counts.mismatched;
        note("access unit unlike any the car sent, slice " + describeBytes(slice, sliceSize));
    }
}

void DecoderTap::followFrameNumbers(const uint8_t* slice, size_t size, bool idr) {
    // first_mb_in_slice ue(v), slice_type ue(v), pic_parameter_set_id ue(v), frame_num u(v):
    // a few dozen bytes of the header suffice.
    std::vector<uint8_t> header;
    removeEmulationPrevention(std::span<const uint8_t>(slice + 1, std::min<size_t>(size - 1, 64)),
                              header);
    BitReader reader(header);
    reader.ue();
    reader.ue();
    reader.ue();
    const uint32_t frameNum = reader.u(log2MaxFrameNum);
    if (reader.failed()) {
        note("slice header does not parse");
        return;
    }
    const uint32_t modulus = 1u << log2MaxFrameNum;
    if (idr) {
        if (inGap) {
            counts.recoveryMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - gapStart).count());
            inGap = false;
        }
    } else if (haveFrameNum) {
        if (frameNum == lastFrameNum) {
            ++counts.repeats;
        } else if (frameNum != (lastFrameNum + 1) % modulus) {
            ++counts.referenceGaps;
            if (!inGap) {
                inGap = true;
                gapStart = Clock::now();
            }
        }
        counts.unitsAfterGap += inGap ? 1 : 0;
    }
    haveFrameNum = true;
    lastFrameNum = frameNum;
}

} // namespace faults

// The interposed libavcodec entry points. The module's decoder is linked into this program, so
// its calls land here first.
extern "C" int avcodec_send_packet(AVCodecContext* context, const AVPacket* packet) {
    using Real = int (*)(AVCodecContext*, const AVPacket*);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "avcodec_send_packet"));
    if (packet != nullptr && packet->data != nullptr && packet->size > 0) {
        faults::DecoderTap::instance().onAccessUnit(packet->data,
                                                    static_cast<size_t>(packet->size));
    }
    return real(context, packet);
}

extern "C" int avcodec_receive_frame(AVCodecContext* context, AVFrame* frame) {
    using Real = int (*)(AVCodecContext*, AVFrame*);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "avcodec_receive_frame"));
    const int result = real(context, frame);
    if (result == 0) {
        faults::DecoderTap::instance().onPicture();
    }
    return result;
}
