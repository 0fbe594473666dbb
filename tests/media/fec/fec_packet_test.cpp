#include <gtest/gtest.h>

#include "media/fec/fec_packet.h"
#include "net/net_manager.h"
#include "tests/media/fec/fec_test_support.h"

namespace fec_test {
namespace {

TEST(FecPacketParse, ReadsEveryHeaderFieldOfTheSimulatorsDatagrams) {
    const SentFrame sent = packetizeFrameOf(3, 1, 1000, 500, 0xBEEF);
    ASSERT_EQ(sent.datagrams.size(), 4u);
    for (int index = 0; index < 4; ++index) {
        NetManager::NetPacket datagram;
        datagram.data = sent.datagrams[index];
        const std::unique_ptr<FecPacket> packet = parseFecPacket(datagram);
        ASSERT_TRUE(packet) << "index " << index;
        EXPECT_EQ(packet->frameNumber, 0xBEEF);
        EXPECT_EQ(packet->packetIndex, index);
        EXPECT_EQ(packet->k, 3);
        EXPECT_EQ(packet->m, 1);
        EXPECT_EQ(packet->shardSize, 1000);
        EXPECT_EQ(packet->frameLength, 2500u);
        const size_t expected = index == 2 ? 500 : 1000;
        EXPECT_EQ(packet->payloadLength, expected);
        EXPECT_EQ(packet->payload,
                  std::vector<uint8_t>(sent.datagrams[index].begin() + kFecHeaderSize,
                                       sent.datagrams[index].end()));
    }
}

struct HeaderCase {
    const char* name;
    Datagram datagram;
    bool parses;
};

TEST(FecPacketParse, RejectsHeadersNoFrameCanHave) {
    // Frame of k = 3, m = 1, shard size 1000 and 2500 bytes unless a case says otherwise.
    const HeaderCase cases[] = {
        {"good data packet", makeDatagram(1, 0, 3, 1, 1000, 1000, 2500, 1000), true},
        {"good short last data packet", makeDatagram(1, 2, 3, 1, 1000, 500, 2500, 500), true},
        {"good parity packet", makeDatagram(1, 3, 3, 1, 1000, 1000, 2500, 1000), true},
        {"index beyond the frame is the frame's to refuse",
         makeDatagram(1, 4, 3, 1, 1000, 1000, 2500, 1000), true},
        {"largest frame: k + m = 256", makeDatagram(1, 0, 200, 56, 16, 16, 3200, 16), true},
        {"header cut short", Datagram(15, 0), false},
        {"length field 100 with 99 bytes", makeDatagram(1, 0, 1, 0, 100, 100, 100, 99), false},
        {"length field 100 with 101 bytes", makeDatagram(1, 0, 1, 0, 100, 100, 100, 101), false},
        {"k = 0", makeDatagram(1, 0, 0, 1, 1000, 1000, 0, 1000), false},
        {"k + m = 257", makeDatagram(1, 0, 200, 57, 16, 16, 3200, 16), false},
        {"shard size 0", makeDatagram(1, 0, 1, 0, 0, 0, 0, 0), false},
        {"parity payload longer than the shard", makeDatagram(1, 3, 3, 1, 1000, 1001, 2500, 1001),
         false},
        {"frame of 4 GiB", makeDatagram(1, 0, 3, 1, 1000, 1000, 0xFFFFFFFF, 1000), false},
        {"frame length one above k shards", makeDatagram(1, 0, 3, 1, 1000, 1000, 3001, 1000),
         false},
        {"frame length that k - 1 shards hold", makeDatagram(1, 0, 3, 1, 1000, 1000, 2000, 1000),
         false},
        {"data packet shorter than its place", makeDatagram(1, 1, 3, 1, 1000, 999, 2500, 999),
         false},
        {"last data packet longer than the frame's rest",
         makeDatagram(1, 2, 3, 1, 1000, 501, 2500, 501), false},
        {"parity packet shorter than the shard", makeDatagram(1, 3, 3, 1, 1000, 500, 2500, 500),
         false},
    };
    for (const HeaderCase& c : cases) {
        EXPECT_EQ(parse(c.datagram) != nullptr, c.parses) << c.name;
    }
}

} // namespace
} // namespace fec_test
