#include <cstdio>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "carsim/media/media_stream.h"
#include "carsim/media/sps_timing.h"
#include "carsim/probe/wire_check.h"

namespace carsim {
namespace {

using wirecheck::cutAtLongStartCodes;
using wirecheck::Decoder;
using wirecheck::decoderInput;

std::vector<MediaTick> runTicks(MediaStream& stream, int count) {
    std::vector<MediaTick> ticks;
    for (int i = 0; i < count; ++i) {
        ticks.push_back(stream.next());
    }
    return ticks;
}

bool hasValidTrailer(const Bytes& nal) {
    const size_t t = nal.size() - 32;
    return nal.size() >= 34 && nal[t] == 0x53 && nal[t + 1] == 0x40 && nal[t + 24] == 0x0D &&
           nal[t + 25] == 0x0A;
}

std::set<int> nalTypes(const Bytes& frame) {
    std::set<int> types;
    for (const Bytes& nal : cutAtLongStartCodes(frame)) {
        types.insert(nalType(nal));
    }
    return types;
}

// Erasure repair is the packetizer's test and the pattern's colours are checked end to end;
// here the layout of the Sonix car's frames.
TEST(MediaStream, SonixFramesCarryTwoParityPacketsATrailerPerSliceAndDecodeTo720p) {
    MediaStream stream{MediaOptions()};
    ASSERT_TRUE(stream.open()) << stream.error();
    const auto ticks = runTicks(stream, 4);
    Decoder decoder;
    for (size_t n = 0; n < ticks.size(); ++n) {
        const MediaTick& tick = ticks[n];
        ASSERT_TRUE(tick.sent);
        EXPECT_EQ(tick.frameNumber, n);
        const int k = wirecheck::parseWire(tick.datagrams.at(0))->k;
        ASSERT_EQ(tick.datagrams.size(), static_cast<size_t>(k + 2)) << "two parity packets";
        int slices = 0;
        for (const Bytes& nal : cutAtLongStartCodes(tick.frame)) {
            if (isSliceNal(nal)) {
                ++slices;
                EXPECT_TRUE(hasValidTrailer(nal)) << "frame " << n;
            }
        }
        EXPECT_EQ(slices, 1) << "one slice per picture";
        const auto pictures = decoder.decode(decoderInput(tick.frame, true));
        ASSERT_EQ(pictures.size(), 1u) << "one picture out per access unit in";
        EXPECT_EQ(pictures[0].width, 1280);
        EXPECT_EQ(pictures[0].height, 720);
        EXPECT_EQ(pictures[0].key, n == 0);
    }
    EXPECT_EQ(nalTypes(ticks[0].frame), (std::set<int>{5, 6, 7, 8}));
    EXPECT_EQ(nalTypes(ticks[1].frame), (std::set<int>{1}));
    EXPECT_EQ(decoder.errors, 0);
}

TEST(MediaStream, ZoderivSlicesAreBareKeyFramesComeOnRequestAndEveryGopAndNumbersWrap) {
    MediaOptions options;
    options.family = Family::Zoderiv;
    options.gop = 4;
    options.startFrameNumber = 65534;
    MediaStream stream(options);
    ASSERT_TRUE(stream.open()) << stream.error();
    auto ticks = runTicks(stream, 6);
    stream.requestKeyFrame();
    ticks.push_back(stream.next());
    ticks.push_back(stream.next());
    Decoder decoder;
    for (size_t n = 0; n < ticks.size(); ++n) {
        const uint16_t number = static_cast<uint16_t>(65534 + n);
        EXPECT_EQ(ticks[n].frameNumber, number);
        for (const Bytes& d : ticks[n].datagrams) {
            EXPECT_EQ(wirecheck::parseWire(d)->frame, number);
        }
        const bool idr = n == 0 || n == 4 || n == 6;
        const std::set<int> types = nalTypes(ticks[n].frame);
        EXPECT_EQ(types.count(5), idr ? 1u : 0u) << "frame " << n;
        EXPECT_EQ(types.count(7) + types.count(8), idr ? 2u : 0u) << "frame " << n;
        for (const Bytes& nal : cutAtLongStartCodes(ticks[n].frame)) {
            EXPECT_FALSE(isSliceNal(nal) && hasValidTrailer(nal));
        }
        EXPECT_EQ(decoder.decode(ticks[n].frame).size(), 1u);
    }
    EXPECT_EQ(decoder.errors, 0);
}

TEST(MediaStream, VuiTimingOptionDecidesWhetherTheSpsCarriesTimingInfo) {
    for (bool timing : {false, true}) {
        MediaOptions options;
        options.family = Family::Zoderiv;
        options.vuiTiming = timing;
        MediaStream stream(options);
        ASSERT_TRUE(stream.open()) << stream.error();
        const MediaTick tick = stream.next();
        Bytes sps;
        for (const Bytes& nal : cutAtLongStartCodes(tick.frame)) {
            sps = nalType(nal) == 7 ? nal : sps;
        }
        const auto parsed = readSpsTiming(sps);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->present, timing);
        // 1 / 60 escaped holds 00 00 03.
        EXPECT_EQ(unescapeRbsp(sps.data(), sps.size()) != sps, timing);
        if (timing) {
            EXPECT_EQ(parsed->timeScale / (2.0 * parsed->numUnitsInTick), 30.0) << "30 a second";
        }
    }
}

TEST(MediaStream, ReplaysAnAnnexBFileAccessUnitByAccessUnitAndLoops) {
    MediaOptions options;
    options.family = Family::Zoderiv;
    options.width = 320;
    options.height = 240;
    MediaStream recorder(options);
    ASSERT_TRUE(recorder.open());
    std::vector<Bytes> recorded;
    const std::string path = testing::TempDir() + "carsim_replay.h264";
    {
        std::ofstream file(path, std::ios::binary);
        for (int i = 0; i < 5; ++i) {
            recorded.push_back(recorder.next().frame);
            // Written with 3-byte start codes as many encoders do.
            for (const Bytes& nal : cutAtLongStartCodes(recorded.back())) {
                file.write("\0\0\1", 3);
                file.write(reinterpret_cast<const char*>(nal.data()),
                           static_cast<std::streamsize>(nal.size()));
            }
        }
    }
    options.family = Family::Sonix;
    options.inputFile = path;
    MediaStream replay(options);
    ASSERT_TRUE(replay.open()) << replay.error();
    for (int i = 0; i < 7; ++i) {
        const MediaTick tick = replay.next();
        for (const Bytes& nal : cutAtLongStartCodes(tick.frame)) {
            EXPECT_TRUE(!isSliceNal(nal) || hasValidTrailer(nal));
        }
        EXPECT_EQ(decoderInput(tick.frame, true), recorded[static_cast<size_t>(i % 5)]) << i;
    }
    std::remove(path.c_str());
}

TEST(MediaStream, FaultsComeFromTheSeed) {
    MediaOptions options;
    options.family = Family::Zoderiv;
    options.width = 320;
    options.height = 240;
    options.lossPercent = 20;
    options.duplicatePercent = 10;
    options.reorderPercent = 10;
    options.seed = 42;
    auto datagramsOf = [](const MediaOptions& o) {
        MediaStream stream(o);
        EXPECT_TRUE(stream.open());
        std::vector<Bytes> all;
        for (const MediaTick& tick : runTicks(stream, 10)) {
            all.insert(all.end(), tick.datagrams.begin(), tick.datagrams.end());
        }
        return all;
    };
    const auto a = datagramsOf(options);
    EXPECT_EQ(a, datagramsOf(options));
    options.seed = 43;
    EXPECT_NE(a, datagramsOf(options));
}

} // namespace
} // namespace carsim
