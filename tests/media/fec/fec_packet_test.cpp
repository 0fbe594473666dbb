#include <gtest/gtest.h>

#include "tests/media/fec/fec_test_support.h"

namespace fec_test {
namespace {

TEST(FecPacketParse, ReadsTheSimulatorsHeaderFields) {
    const SentFrame sent = packetizeFrame(3, 1, 1000, 500);
    NetManager::NetPacket datagram;
    datagram.data = sent.datagrams[2];
    const std::unique_ptr<FecPacket> packet = parseFecPacket(datagram);
    ASSERT_TRUE(packet);
    EXPECT_EQ(std::vector<int>({packet->frameNumber, packet->packetIndex, packet->k, packet->m,
                                packet->shardSize, packet->payloadLength}),
              std::vector<int>({7, 2, 3, 1, 1000, 500}));
    EXPECT_EQ(packet->frameLength, 2500u);
    EXPECT_TRUE(std::equal(packet->payload.begin(), packet->payload.end(), &sent.bytes[2000]));
}

TEST(FecPacketParse, RejectsHeadersNoFrameCanHave) {
    // k = 3, m = 1, shard size 1000 and 2500 bytes unless a case says otherwise.
    const struct {
        const char* name;
        Datagram datagram;
        bool parses;
    } cases[] = {
        {"data packet", makeDatagram(1, 0, 3, 1, 1000, 1000, 2500, 1000), true},
        {"parity packet", makeDatagram(1, 3, 3, 1, 1000, 1000, 2500, 1000), true},
        {"index beyond the frame: the frame refuses it",
         makeDatagram(1, 4, 3, 1, 1000, 1000, 2500, 1000), true},
        {"k + m = 256", makeDatagram(1, 0, 200, 56, 16, 16, 3200, 16), true},
        {"header cut short", Datagram(15, 0), false},
        {"length 100, 99 bytes", makeDatagram(1, 0, 1, 0, 100, 100, 100, 99), false},
        {"length 100, 101 bytes", makeDatagram(1, 0, 1, 0, 100, 100, 100, 101), false},
        {"k = 0", makeDatagram(1, 0, 0, 1, 1000, 1000, 0, 1000), false},
        {"k + m = 257", makeDatagram(1, 0, 200, 57, 16, 16, 3200, 16), false},
        {"shard size 0", makeDatagram(1, 0, 1, 0, 0, 0, 0, 0), false},
        {"payload over the shard", makeDatagram(1, 3, 3, 1, 1000, 1001, 2500, 1001), false},
        {"beyond the frame, over the shard", makeDatagram(1, 9, 3, 1, 1000, 1001, 2500, 1001),
         false},
        {"frame of 4 GiB", makeDatagram(1, 0, 3, 1, 1000, 1000, 0xFFFFFFFF, 1000), false},
        {"frame over k shards", makeDatagram(1, 0, 3, 1, 1000, 1000, 3001, 1000), false},
        {"frame that k - 1 shards hold", makeDatagram(1, 0, 3, 1, 1000, 1000, 2000, 1000), false},
        {"data packet short of its place", makeDatagram(1, 1, 3, 1, 1000, 999, 2500, 999), false},
        {"last data packet past the frame", makeDatagram(1, 2, 3, 1, 1000, 501, 2500, 501), false},
        {"parity packet short of the shard", makeDatagram(1, 3, 3, 1, 1000, 500, 2500, 500), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse(c.datagram) != nullptr, c.parses) << c.name;
    }
}

} // namespace
} // namespace fec_test
