#include <algorithm>
#include <cstring>
#include <map>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "carsim/media/annexb.h"
#include "carsim/media/media_sender.h"
#include "carsim/probe/car_client.h"
#include "carsim/probe/wire_check.h"

namespace carsim {
namespace {

using carclient::milliseconds;

sockaddr_storage loopback(int fd) {
    sockaddr_storage address{};
    auto in = carclient::ipv4("127.0.0.1", carclient::localPort(fd));
    std::memcpy(&address, &in, sizeof in);
    return address;
}

TEST(MediaSender, StreamsDecodableFramesOverLoopbackAndHonoursKeyFrameRequests) {
    carclient::Fd car = carclient::udpSocket("127.0.0.1"),
                  client = carclient::udpSocket("127.0.0.1");
    int buffer = 4 << 20; // room for whole frames while the test reads slowly
    ::setsockopt(client.get(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    MediaOptions options;
    options.gop = 1000; // no IDR but the first and the requested one
    MediaSender sender(options);
    ASSERT_TRUE(sender.start(car.get(), loopback(client.get()))) << sender.error();
    EXPECT_TRUE(sender.running());

    std::map<uint16_t, std::vector<wirecheck::WirePacket>> frames;
    std::map<uint16_t, Bytes> complete;
    bool requested = false, requestedIdrSeen = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!requestedIdrSeen && std::chrono::steady_clock::now() < deadline) {
        auto datagram = carclient::receiveDatagram(client.get(), milliseconds(1000));
        if (!datagram) {
            continue;
        }
        ASSERT_LE(datagram->size(), 2048u);
        auto packet = wirecheck::parseWire(*datagram);
        ASSERT_TRUE(packet);
        auto& packets = frames[packet->frame];
        packets.push_back(std::move(*packet));
        if (packets.size() == packets[0].k + size_t{packets[0].m}) {
            const Bytes& frame = complete[packets[0].frame] =
                wirecheck::rebuildFrame(packets).value();
            const auto nals = wirecheck::cutAtLongStartCodes(frame);
            const bool idr = std::any_of(nals.begin(), nals.end(),
                                         [](const Bytes& nal) { return nalType(nal) == 5; });
            requestedIdrSeen = requested && idr;
            if (complete.size() == 3 && !requested) {
                sender.requestKeyFrame();
                requested = true;
            }
        }
    }
    sender.stop();
    EXPECT_FALSE(sender.running());
    EXPECT_TRUE(requestedIdrSeen);
    EXPECT_GE(sender.framesSent(), complete.size());
    sender.stop(); // idempotent

    // Frames arrive in order and decode; the first is an IDR picture.
    wirecheck::Decoder decoder;
    uint16_t expected = 0;
    for (const auto& [number, frame] : complete) {
        EXPECT_EQ(number, expected++);
        EXPECT_EQ(decoder.decode(wirecheck::decoderInput(frame, true)).size(), 1u);
    }
    EXPECT_EQ(decoder.errors, 0);

    options.inputFile = "/nonexistent/carsim.h264";
    MediaSender broken(options);
    EXPECT_FALSE(broken.start(car.get(), loopback(client.get())));
    EXPECT_FALSE(broken.running());
    EXPECT_FALSE(broken.error().empty());
    broken.stop();
}

} // namespace
} // namespace carsim
