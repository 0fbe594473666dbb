#include <arpa/inet.h>
#include <chrono>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "carsim/media/annexb.h"
#include "carsim/media/media_sender.h"
#include "carsim/probe/wire_check.h"

namespace carsim {
namespace {

struct UdpSocket {
    int fd = -1;
    sockaddr_storage address{};
    UdpSocket() {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        auto* in = reinterpret_cast<sockaddr_in*>(&address);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        in->sin_port = 0;
        socklen_t length = sizeof(sockaddr_in);
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            close(fd);
            fd = -1;
        }
        int buffer = 4 << 20;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    }
    ~UdpSocket() {
        if (fd >= 0) {
            close(fd);
        }
    }
    // A datagram, or none after timeoutMs.
    std::optional<Bytes> receive(int timeoutMs) const {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) {
            return std::nullopt;
        }
        Bytes buffer(65536);
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n < 0) {
            return std::nullopt;
        }
        buffer.resize(static_cast<size_t>(n));
        return buffer;
    }
};

TEST(MediaSender, StreamsDecodableFramesOverLoopbackAndHonoursKeyFrameRequests) {
    UdpSocket car, client;
    ASSERT_GE(car.fd, 0);
    ASSERT_GE(client.fd, 0);
    MediaOptions options;
    options.gop = 1000; // no IDR but the first and the requested one
    MediaSender sender(options);
    ASSERT_TRUE(sender.start(car.fd, client.address)) << sender.error();
    EXPECT_TRUE(sender.running());

    std::map<uint16_t, std::vector<wirecheck::WirePacket>> frames;
    std::map<uint16_t, Bytes> complete;
    bool requested = false;
    bool requestedIdrSeen = false;
    uint64_t received = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!requestedIdrSeen && std::chrono::steady_clock::now() < deadline) {
        auto datagram = client.receive(1000);
        if (!datagram) {
            continue;
        }
        ++received;
        ASSERT_LE(datagram->size(), 2048u);
        auto packet = wirecheck::parseWire(*datagram);
        ASSERT_TRUE(packet);
        const uint16_t number = packet->frame;
        frames[number].push_back(std::move(*packet));
        if (frames[number].size() == frames[number][0].k + size_t{frames[number][0].m}) {
            complete[number] = wirecheck::rebuildFrame(frames[number]).value();
            bool idr = false;
            for (const Bytes& nal : wirecheck::cutAtLongStartCodes(complete[number])) {
                idr = idr || nalType(nal) == 5;
            }
            if (complete.size() == 3 && !requested) {
                sender.requestKeyFrame();
                requested = true;
            } else if (requested && idr) {
                requestedIdrSeen = true;
            }
        }
    }
    sender.stop();
    EXPECT_FALSE(sender.running());
    EXPECT_TRUE(requestedIdrSeen);
    EXPECT_GE(sender.framesSent(), complete.size());
    EXPECT_GE(sender.datagramsSent(), received);
    sender.stop(); // idempotent

    // Frames arrive in order and decode; the first is an IDR picture.
    wirecheck::Decoder decoder;
    uint16_t expected = 0;
    for (const auto& [number, frame] : complete) {
        EXPECT_EQ(number, expected++);
        Bytes bare;
        for (Bytes nal : wirecheck::cutAtLongStartCodes(frame)) {
            if (isSliceNal(nal)) {
                nal.resize(nal.size() - 32);
            }
            bare.insert(bare.end(), {0, 0, 0, 1});
            bare.insert(bare.end(), nal.begin(), nal.end());
        }
        EXPECT_EQ(decoder.decode(bare).size(), 1u);
    }
    EXPECT_EQ(decoder.errors, 0);
}

TEST(MediaSender, StartFailsWithoutASourceAndStopIsHarmless) {
    MediaOptions options;
    options.inputFile = "/nonexistent/carsim.h264";
    MediaSender sender(options);
    UdpSocket car;
    EXPECT_FALSE(sender.start(car.fd, car.address));
    EXPECT_FALSE(sender.running());
    EXPECT_FALSE(sender.error().empty());
    EXPECT_EQ(sender.framesSent(), 0u);
    sender.stop();
}

} // namespace
} // namespace carsim
