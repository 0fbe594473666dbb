#include <cstdio>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "carsim/media/media_stream.h"
#include "carsim/media/sps_timing.h"
#include "carsim/media/test_pattern.h"
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

TEST(MediaStream, SonixFramesSurviveErasuresCarryTrailersAndDecodeTo720pBars) {
    MediaStream stream{MediaOptions()};
    ASSERT_TRUE(stream.open()) << stream.error();
    const auto ticks = runTicks(stream, 10);
    Decoder decoder;
    std::vector<wirecheck::Picture> pictures;
    for (size_t n = 0; n < ticks.size(); ++n) {
        const MediaTick& tick = ticks[n];
        ASSERT_TRUE(tick.sent);
        EXPECT_EQ(tick.frameNumber, n);
        const int k = wirecheck::parseWire(tick.datagrams.at(0))->k;
        ASSERT_EQ(tick.datagrams.size(), static_cast<size_t>(k + 2)) << "two parity packets";
        // A different loss in each frame: none, the first, the last data packet, two data
        // packets, both parity packets.
        const std::vector<std::set<int>> losses = {{}, {0}, {k - 1}, {0, k - 1}, {k, k + 1}};
        auto frames = wirecheck::groupByFrame(tick.datagrams, losses[n % losses.size()]);
        ASSERT_EQ(frames.size(), 1u);
        auto rebuilt = wirecheck::rebuildFrame(frames.begin()->second);
        ASSERT_EQ(rebuilt, tick.frame) << "frame " << n;

        int slices = 0;
        for (const Bytes& nal : cutAtLongStartCodes(*rebuilt)) {
            if (isSliceNal(nal)) {
                ++slices;
                EXPECT_TRUE(hasValidTrailer(nal)) << "frame " << n;
            }
        }
        EXPECT_EQ(slices, 1) << "one slice per picture";
        auto out = decoder.decode(decoderInput(*rebuilt, true));
        pictures.insert(pictures.end(), out.begin(), out.end());
    }
    EXPECT_EQ(nalTypes(ticks[0].frame), (std::set<int>{5, 6, 7, 8}));
    EXPECT_EQ(nalTypes(ticks[1].frame), (std::set<int>{1}));
    EXPECT_EQ(decoder.errors, 0);
    ASSERT_EQ(pictures.size(), ticks.size()) << "one picture out per access unit in";
    for (const auto& p : pictures) {
        EXPECT_EQ(p.width, 1280);
        EXPECT_EQ(p.height, 720);
    }
    EXPECT_TRUE(pictures[0].key);
    // Frame 0: eight bars of 160 pixels from the left edge; sample below the counter.
    for (int bar = 0; bar < TestPattern::barCount; ++bar) {
        const auto got = wirecheck::pixelRgb(pictures[0], bar * 160 + 80, 500);
        const auto want = TestPattern::bars[bar];
        EXPECT_TRUE(std::abs(got.r - want.r) < 40 && std::abs(got.g - want.g) < 40 &&
                    std::abs(got.b - want.b) < 40)
            << "bar " << bar << ": " << got.r << "," << got.g << "," << got.b;
    }
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
        // The decoder reads the same: 30 frames a second, or no rate at all.
        const auto pictures = Decoder().decode(tick.frame);
        ASSERT_EQ(pictures.size(), 1u);
        if (timing) {
            EXPECT_EQ(parsed->timeScale / (2.0 * parsed->numUnitsInTick), 30.0);
            EXPECT_EQ(pictures[0].frameRateNum * 1.0 / pictures[0].frameRateDen, 30.0);
        } else {
            EXPECT_EQ(pictures[0].frameRateNum, 0);
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
