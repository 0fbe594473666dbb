#pragma once

#include <cstdint>
#include <string>

namespace carsim {

enum class Family { Sonix, Zoderiv };

// Everything that shapes the video stream of one simulated car.
struct MediaOptions {
    Family family = Family::Sonix; // Sonix: every slice NAL unit ends with the 32-byte trailer
    int width = 1280, height = 720, fps = 30;
    int bitrateKbps = 2500;
    int gop = 30;            // key-frame interval in frames
    bool vuiTiming = false;  // SPS carries VUI timing info (escaped form has 00 00 03)
    std::string inputFile;   // replay this Annex B file instead of the test pattern (loops)
    int shardSize = 1024;    // FEC shard size; payload per datagram <= 2032
    int parityPackets = 2;   // m
    double lossPercent = 0;  // random loss of datagrams
    int burstLength = 0;     // burst loss: runs of burstLength datagrams dropped ...
    double burstPercent = 0; // ... a run starting at a datagram with this probability
    double duplicatePercent = 0;
    double reorderPercent = 0; // a datagram held back and sent after the next one
    bool garbage = false;      // hostile datagrams between good ones
    uint32_t seed = 1;
    int startFrameNumber = 0;   // first FEC frame number (to exercise the 65535 wrap)
    uint8_t deviceFlags = 0x0B; // Sonix trailer byte 26 (MediaSender::setDeviceFlags changes it)
};

} // namespace carsim
