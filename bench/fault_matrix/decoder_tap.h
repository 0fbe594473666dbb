// What the source hands its H.264 decoder, watched from outside the module's code: every access
// unit given to avcodec_send_packet, every picture avcodec_receive_frame returns, and every
// report libavcodec makes at error level. This program defines both functions itself (the
// source's decoder, linked in, calls them) and forwards to libavcodec's own.
//
// Two checks on the access units:
//  - with a reference (a car replaying a known file), each one must be byte-identical to what
//    that car sent: its slice one of the file's slices, and an IDR slice preceded by the file's
//    SPS as the receiver rewrites it and the file's PPS;
//  - always, the slices' frame_num must count up by one from IDR to IDR. A skip means a
//    reference picture never reached the decoder (the receiver gave its frame up): the pictures
//    until the next IDR are shown with that reference concealed, and the time from the skip to
//    that IDR is the stream's time to recover.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace faults {

using Clock = std::chrono::steady_clock;

// The access units a car that replays a known Annex B file can cause.
struct ReferenceStream {
    std::unordered_set<std::string> slices; // slice NAL units, header byte first
    std::vector<uint8_t> rewrittenSps;      // the file's SPS as the receiver rewrites it
    std::vector<uint8_t> pps;
};

struct DecoderFigures {
    uint64_t accessUnits = 0;
    uint64_t idrUnits = 0;
    uint64_t pictures = 0;          // pictures the decoder returned
    uint64_t decoderErrors = 0;     // libavcodec reports at error level or worse
    uint64_t checked = 0;           // access units compared with the reference
    uint64_t mismatched = 0;        // ... and found to differ from everything the car sent
    uint64_t referenceGaps = 0;     // slices whose frame_num skipped
    uint64_t repeats = 0;           // slices with the frame_num of the one before
    uint64_t unitsAfterGap = 0;     // access units decoded between a skip and the next IDR
    std::vector<double> recoveryMs; // from each skip to the next IDR
    Clock::time_point firstUnit;    // when the first access unit reached the decoder
    Clock::time_point firstPicture; // when the decoder returned its first picture
    std::vector<Clock::time_point> pictureTimes; // of every picture the decoder returned
    std::vector<std::string> firstProblems;      // a few texts, for the report
};

class DecoderTap {
public:
    static DecoderTap& instance();

    // Starts counting afresh, for a new source; reference may be null.
    void restart(const ReferenceStream* reference);
    DecoderFigures figures() const;

    // Called from the interposed functions and libavcodec's log callback.
    void onAccessUnit(const uint8_t* data, size_t size);
    void onPicture();
    void onLog(int level, const char* text);

private:
    DecoderTap();
    void checkAgainstReference(const std::vector<std::pair<const uint8_t*, size_t>>& nals);
    void followFrameNumbers(const uint8_t* slice, size_t size, bool idr);
    void note(const std::string& problem);

    mutable std::mutex mutex;
    // Guarded by mutex:
    const ReferenceStream* reference = nullptr;
    DecoderFigures counts;
    int log2MaxFrameNum = 4;
    bool haveFrameNum = false;
    uint32_t lastFrameNum = 0;
    bool inGap = false;
    Clock::time_point gapStart;
};

} // namespace faults
