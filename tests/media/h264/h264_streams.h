// Real H.264 streams for the inspection tests: made by libx264 (through libavcodec) with the
// options a test names, or by the simulated car's encoder, and decoded by libavcodec.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct X264Stream {
    int width = 176, height = 144;
    int frames = 3;
    bool yuv444 = false;
    std::string profile = "high";
    std::string params; // x264 options, "name=value:name=value"
};

// One access unit per picture with 4-byte start codes, parameter sets before the first; empty
// when the encoder refused the options.
std::vector<Bytes> encodeX264(const X264Stream& stream);

// The same from the simulated car's encoder (SPS with or without VUI timing info).
std::vector<Bytes> encodeLikeCar(bool vuiTiming, int frames);

// The first SPS NAL unit of the stream; empty when there is none.
Bytes firstSps(const std::vector<Bytes>& accessUnits);

// Each access unit with every SPS NAL unit replaced by replace(sps).
std::vector<Bytes> replaceSps(const std::vector<Bytes>& accessUnits,
                              const std::function<Bytes(const Bytes&)>& replace);

// The decoded pictures of the stream (all planes, tightly packed, one after the other), after
// the decoder has been drained; empty when the decoder refused a packet.
std::vector<Bytes> decodePictures(const std::vector<Bytes>& accessUnits);

// Streams of every kind the tests read, encoded once: the simulated car's with and without VUI
// timing, and libx264's high profile plain, with 4 reference frames (one intra picture), with
// a NAL HRD, interlaced, and 4:4:4.
struct NamedStream {
    std::string name;
    std::vector<Bytes> accessUnits;
};
const std::vector<NamedStream>& realStreams();
const NamedStream& realStream(const std::string& name); // one of realStreams()
