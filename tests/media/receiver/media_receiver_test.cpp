// The media receiver: intake, repair, giving up, delivery order and access units, for both car
// families, fed with the datagrams the simulator's packetizer makes.
#include <thread>

#include <gtest/gtest.h>

#include "media/h264/sps_rewrite.h"
#include "tests/media/receiver/receiver_test_support.h"

namespace receiver_test {
namespace {

using Family = MediaReceiver::Family;

// An IDR frame in one packet: SPS, PPS and a slice (long enough for a Sonix trailer).
Bytes keyFrame(uint8_t fill = 0x5A) {
    return annexB({sps(), nal(8, 4), nal(5, 48, fill)});
}
Bytes deltaFrame(uint8_t fill) {
    return annexB({nal(1, 40, fill)});
}

class MediaReceiverTest : public ::testing::TestWithParam<Family> {
protected:
    // Sends each datagram of the frame (all of them unless `indices` picks some).
    void send(uint16_t number, const Bytes& frame, std::vector<int> indices = {}, int shard = 2048,
              int parity = 0, int64_t timestamp = 1) {
        const std::vector<Bytes> all = datagrams(number, frame, shard, parity);
        if (indices.empty()) {
            for (int i = 0; i < static_cast<int>(all.size()); ++i) {
                indices.push_back(i);
            }
        }
        for (int i : indices) {
            receiver.onPacket(packet(all.at(static_cast<size_t>(i)), timestamp));
        }
    }
    // Numbers the listener was given, and the first NAL type of each access unit.
    std::vector<int32_t> deliveredNumbers() const {
        std::vector<int32_t> numbers;
        for (const auto& frame : sink.frames) {
            numbers.push_back(std::get<0>(frame));
        }
        return numbers;
    }
    std::vector<uint8_t> deliveredFills() const {
        std::vector<uint8_t> fills;
        for (const auto& frame : sink.frames) {
            fills.push_back(std::get<2>(frame).back());
        }
        return fills;
    }
    bool sonix() const { return GetParam() == Family::Sonix; }

    CounterProbe counters;
    RecordingSink sink;
    MediaReceiver receiver{GetParam(), sink};
};

INSTANTIATE_TEST_SUITE_P(BothFamilies, MediaReceiverTest,
                         ::testing::Values(Family::Sonix, Family::Zoderiv),
                         [](const auto& info) {
                             return info.param == Family::Sonix ? "Sonix" : "Zoderiv";
                         });

TEST_P(MediaReceiverTest, IdrFrameBecomesOneAccessUnitWithTheRewrittenParameterSets) {
    ASSERT_NE(rewriteSps(sps()), sps()) << "the SPS parses and is rewritten";
    const Bytes slice = nal(5, 48, 0x77);
    const Bytes pps = nal(8, 4);
    send(1, annexB({sps(), pps, nal(6, 5), slice}), {}, 2048, 0, 424242);
    ASSERT_EQ(sink.frames.size(), 1u);
    const Bytes sliceSent =
        sonix() ? Bytes(slice.begin(), slice.end() - kSliceTrailerSize) : slice;
    EXPECT_EQ(std::get<2>(sink.frames[0]), annexB({rewriteSps(sps()), pps, sliceSent}));
    EXPECT_EQ(std::get<0>(sink.frames[0]), 0);
    EXPECT_EQ(std::get<1>(sink.frames[0]), 424242);
    EXPECT_EQ(sink.trailers,
              sonix() ? std::vector<Bytes>{Bytes(slice.end() - kSliceTrailerSize, slice.end())}
                      : std::vector<Bytes>{});

    // A delta slice goes alone; one that is no longer than its trailer carries nothing.
    send(2, annexB({nal(1, 40, 0x11)}));
    send(3, annexB({nal(1, 32, 0x22)}));
    ASSERT_EQ(sink.frames.size(), sonix() ? 2u : 3u);
    EXPECT_EQ(std::get<2>(sink.frames[1]).size(), 4u + (sonix() ? 8u : 40u));
}

TEST_P(MediaReceiverTest, SlicesBeforeBothParameterSetsAreDropped) {
    send(1, deltaFrame(1));
    send(2, annexB({sps(), nal(5, 40)})); // no PPS yet
    EXPECT_TRUE(sink.frames.empty());
    send(3, keyFrame());
    EXPECT_EQ(sink.frames.size(), 1u);
    // Delivered frames are counted whether or not they yielded an access unit.
    EXPECT_EQ(deliveredNumbers(), std::vector<int32_t>{2});
}

TEST_P(MediaReceiverTest, FramesLeaveOnArrivalAndSkippedNumbersCountAsLost) {
    send(10, keyFrame());
    send(11, deltaFrame(11));
    send(13, deltaFrame(13));
    EXPECT_EQ(deliveredNumbers(), (std::vector<int32_t>{0, 1, 2}));
    // 1 to 9 before the first frame, and 12.
    EXPECT_TRUE(counters.shows(3, 10));
}

TEST_P(MediaReceiverTest, AfterAResetFrameZeroIsLateAndANumberFarAheadCountsTheGap) {
    send(0, keyFrame(0x01));
    EXPECT_TRUE(sink.frames.empty()) << "0 <= last delivered 0";
    send(1, keyFrame(0x02));
    EXPECT_EQ(sink.frames.size(), 1u);

    receiver.reset();
    send(500, keyFrame(0x03));
    EXPECT_EQ(deliveredNumbers(), (std::vector<int32_t>{0, 0})) << "counting starts again";
    EXPECT_TRUE(counters.shows(3, 499));
}

TEST_P(MediaReceiverTest, NumbersWrapFrom65535ToZero) {
    send(65534, keyFrame(0x01));
    const Bytes pending = deltaFrame(0xFF);
    send(65535, pending, {0}, 16); // one of three data packets
    send(3, deltaFrame(0x03));     // 65534 - 3 is far more than 60: a wrap, not a late packet
    // Frame 3 is the lower number and leaves first; 65535 completes later.
    send(65535, pending, {1, 2}, 16);
    EXPECT_EQ(deliveredFills(), (std::vector<uint8_t>{0x01 + 0, 0x03, 0xFF}))
        << "the IDR's fill is the slice's last byte";
}

TEST_P(MediaReceiverTest, RepairedAtTheLastParityPacketOrWhenALaterFrameBegins) {
    send(1, keyFrame());
    const Bytes second = deltaFrame(0x22);
    // k = 3 data packets, 2 parity: one data packet lost, repaired at index 4.
    send(2, second, {0, 2, 3, 4}, 16, 2);
    EXPECT_EQ(deliveredFills(), (std::vector<uint8_t>{0x5A, 0x22}));
    EXPECT_TRUE(counters.shows(2, 1));

    // The packet of the highest index is lost too: the first packet of frame 4 repairs it,
    // and it leaves before frame 4.
    send(3, deltaFrame(0x33), {0, 2, 3}, 16, 2);
    EXPECT_EQ(sink.frames.size(), 2u);
    send(4, deltaFrame(0x44), {}, 16, 2);
    EXPECT_EQ(deliveredFills(), (std::vector<uint8_t>{0x5A, 0x22, 0x33, 0x44}));
    EXPECT_EQ(sink.keyFrameRequests, 0);
    EXPECT_TRUE(counters.shows(2, 2));
}

TEST_P(MediaReceiverTest, UnrepairableFrameIsGivenUpWithOneKeyFrameRequest) {
    send(1, keyFrame());
    send(2, deltaFrame(0x22), {0}, 16, 1); // 1 of 3 data packets, parity lost too
    send(3, deltaFrame(0x33), {0}, 16, 1); // a packet of a later frame
    if (sonix()) {
        // Waits while nothing later is complete.
        EXPECT_EQ(sink.keyFrameRequests, 0);
        send(3, deltaFrame(0x33), {1, 2}, 16, 1);
    }
    // Zoderiv gave frame 2 up at once; frame 3 completes with its other packets.
    if (!sonix()) {
        EXPECT_EQ(sink.keyFrameRequests, 1);
        send(3, deltaFrame(0x33), {1, 2}, 16, 1);
    }
    EXPECT_EQ(sink.keyFrameRequests, 1);
    EXPECT_EQ(deliveredFills(), (std::vector<uint8_t>{0x5A, 0x33}));
    EXPECT_EQ(deliveredNumbers(), (std::vector<int32_t>{0, 1}));
    EXPECT_TRUE(counters.shows(1, 1));
    // Its late packets are ignored.
    send(2, deltaFrame(0x22), {1, 2}, 16, 1);
    EXPECT_EQ(sink.frames.size(), 2u);
}

TEST_P(MediaReceiverTest, RepeatedDatagramIsIgnoredButAConflictingOneDiscardsItsFrame) {
    send(1, keyFrame());
    const Bytes frame = deltaFrame(0x22);
    send(2, frame, {0, 0, 1, 2}, 16);
    EXPECT_EQ(deliveredFills(), (std::vector<uint8_t>{0x5A, 0x22}));

    // Another packet claiming a filled slot: the frame cannot be trusted and is dropped; its
    // later packets start it afresh.
    Bytes forged = datagrams(3, deltaFrame(0x33), 16).at(0);
    forged.back() ^= 0xFF;
    send(3, deltaFrame(0x33), {0}, 16);
    receiver.onPacket(packet(forged));
    EXPECT_EQ(receiver.framesInAssembly(), 0u);
    send(3, deltaFrame(0x33), {1, 2}, 16);
    EXPECT_EQ(sink.frames.size(), 2u) << "its first packet is gone";
    // Both repeats came with an index below the next expected one.
    EXPECT_TRUE(counters.shows(4, 2));
}

TEST_P(MediaReceiverTest, MalformedDatagramsChangeNothing) {
    const Bytes good = datagrams(1, keyFrame(), 2048).at(0);
    for (Bytes bad : {Bytes(15, 0), Bytes(good.begin(), good.end() - 1), Bytes{}}) {
        receiver.onPacket(packet(bad));
    }
    Bytes lyingLength = good;
    lyingLength[11] ^= 1; // payload length field
    receiver.onPacket(packet(lyingLength));
    EXPECT_EQ(receiver.framesInAssembly(), 0u);
    receiver.onPacket(packet(good));
    EXPECT_EQ(sink.frames.size(), 1u);
}

TEST_P(MediaReceiverTest, DatagramsFromAnyoneCannotGrowTheFrameTableWithoutBound) {
    send(1, keyFrame());
    // One packet of each of many frames that will never complete, far from the stream.
    for (uint16_t number = 30000; number < 31000; ++number) {
        send(number, deltaFrame(1), {0}, 16);
    }
    EXPECT_LE(receiver.framesInAssembly(), MediaReceiver::kMaxFramesInAssembly);
    // The car's own stream goes on.
    send(2, deltaFrame(0x22), {0, 1}, 16);
    send(2, deltaFrame(0x22), {2}, 16);
    EXPECT_EQ(deliveredFills().back(), 0x22);
}

TEST_P(MediaReceiverTest, ResetsInterleaveWithPacketsOnlyBetweenPackets) {
    std::atomic<bool> done{false};
    std::thread resetter([&] {
        while (!done) {
            receiver.reset();
        }
    });
    for (uint16_t number = 1; number < 300; ++number) {
        send(number, number % 30 == 1 ? keyFrame() : deltaFrame(2), {}, 16, 1);
    }
    done = true;
    resetter.join();
    EXPECT_FALSE(sink.frames.empty());
}

} // namespace
} // namespace receiver_test
