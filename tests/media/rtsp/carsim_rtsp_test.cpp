// A session with the simulated Sonix car, which streams once PLAY is through.
#include <atomic>

#include <gtest/gtest.h>

#include "media/rtsp/rtsp_session.h"
#include "tests/net/net_test_support.h"
#include "tests/support/car_process.h"

namespace {

TEST(RtspWithSimulatedCar, StartBringsVideoToTheMediaSocketAndStopIsConfirmed) {
    carclient::CarProcess car({"--family", "sonix"});
    ASSERT_TRUE(car.ready());
    carclient::InNamespace inside(car.namespaceFd());

    nettest::ErrorLog errors;
    auto manager = nettest::makeManager(errors);
    auto media = manager->createConnection();
    std::atomic<int> videoSocket{kInvalidSocket};
    std::atomic<int> videoDatagrams{0};
    media->setPacketHandler([&](std::unique_ptr<NetManager::NetPacket> packet) {
        if (packet->socket == videoSocket.load()) {
            ++videoDatagrams;
        }
    });
    const int mediaSocket = nettest::openSocket(*media, NetManager::kSocketUdp, 4500);
    const int auxSocket = nettest::openSocket(*media, NetManager::kSocketUdp, 4501);
    ASSERT_GE(mediaSocket, 0);
    ASSERT_GE(auxSocket, 0);
    videoSocket = mediaSocket;

    RtspSession session(manager, media, mediaSocket, auxSocket);
    ASSERT_EQ(session.start(), 0);
    EXPECT_FALSE(session.sessionTag().empty());
    EXPECT_TRUE(nettest::waitFor([&] { return videoDatagrams.load() >= 20; }));
    EXPECT_EQ(session.stop(), 0);
    session.close();
    manager->shutdown();
}

} // namespace
