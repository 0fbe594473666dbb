// Opening, sending and receiving through NetManager over real loopback sockets.
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "net/net_manager.h"
#include "net_test_support.h"

namespace {

using namespace nettest;
using Packet = std::unique_ptr<NetManager::NetPacket>;

int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class NetManagerIo : public ::testing::Test {
protected:
    std::shared_ptr<NetManager> makeManager() {
        return std::make_shared<NetManager>(anyAddress(), loopbackAddress(), errors_.callback());
    }

    ErrorLog errors_;
};

TEST_F(NetManagerIo, TcpRoundTripCarriesSocketAndPassTimestamp) {
    TcpListener listener;
    auto manager = makeManager();
    auto connection = manager->createConnection();
    int socket = -1;
    ASSERT_EQ(connection->open(NetManager::kSocketTcp, listener.port(), socket), 0);
    ASSERT_GE(socket, 0);
    const int device = listener.accept();
    ASSERT_GE(device, 0);

    auto outgoing = NetManager::makePacket(socket, bytesOf("hello"));
    EXPECT_EQ(outgoing->timestamp, INT64_MIN);
    EXPECT_TRUE(connection->send(std::move(outgoing)));
    EXPECT_EQ(receiveBytes(device, 5), bytesOf("hello"));

    const int64_t before = steadyNowNs();
    ASSERT_TRUE(sendAllBytes(device, bytesOf("world")));
    Packet packet;
    ASSERT_TRUE(connection->receive(packet, 10000));
    EXPECT_EQ(packet->data, bytesOf("world"));
    EXPECT_EQ(packet->socket, socket);
    EXPECT_GE(packet->timestamp, before);
    EXPECT_LE(packet->timestamp, steadyNowNs());
    EXPECT_TRUE(errors_.entries().empty());
    close(device);
}

TEST_F(NetManagerIo, UdpSocketsSendToThePeerPortAndReportTheirBoundPort) {
    UdpPeer device;
    auto manager = makeManager();
    auto connection = manager->createConnection();
    int socket = -1;
    ASSERT_EQ(connection->open(NetManager::kSocketUdp, device.port(), socket), 0);
    const uint16_t localPort = connection->localPort(socket);
    ASSERT_NE(localPort, 0);
    ASSERT_NE(localPort, NetManager::kUnknownPort);
    EXPECT_EQ(connection->localPort(socket + 1000), NetManager::kUnknownPort);

    EXPECT_TRUE(connection->send(NetManager::makePacket(socket, bytesOf("probe"))));
    EXPECT_EQ(device.receive(), bytesOf("probe"));

    // One datagram is one packet, however many are waiting.
    ASSERT_TRUE(device.sendTo(localPort, bytesOf("one")));
    ASSERT_TRUE(device.sendTo(localPort, bytesOf("two")));
    Packet packet;
    ASSERT_TRUE(connection->receive(packet, 0));
    EXPECT_EQ(packet->data, bytesOf("one"));
    ASSERT_TRUE(connection->receive(packet, 0));
    EXPECT_EQ(packet->data, bytesOf("two"));
}

TEST_F(NetManagerIo, SendRefusesForeignSocketsQuietlyAndSendsNothingForEmptyPayload) {
    UdpPeer device;
    auto manager = makeManager();
    auto connection = manager->createConnection();
    int socket = -1;
    ASSERT_EQ(connection->open(NetManager::kSocketUdp, device.port(), socket), 0);

    EXPECT_FALSE(connection->send(NetManager::makePacket(socket + 1000, bytesOf("x"))));
    EXPECT_FALSE(connection->send(nullptr));
    EXPECT_TRUE(connection->send(NetManager::makePacket(socket, {})));
    EXPECT_TRUE(connection->send(NetManager::makePacket(socket, bytesOf("after"))));
    EXPECT_EQ(device.receive(), bytesOf("after")) << "the empty payload sent no datagram";
    EXPECT_TRUE(errors_.entries().empty());
}

TEST_F(NetManagerIo, ReceiveTimeouts) {
    UdpPeer device;
    auto manager = makeManager();
    auto connection = manager->createConnection();
    int socket = -1;
    ASSERT_EQ(connection->open(NetManager::kSocketUdp, device.port(), socket), 0);

    Packet packet;
    EXPECT_FALSE(connection->receive(packet, -1));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(connection->receive(packet, 30));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

    // Without limit: returns with the packet once one arrives.
    std::atomic<bool> got{false};
    std::thread reader([&] {
        Packet p;
        got = connection->receive(p, 0) && p->data == bytesOf("late");
    });
    ASSERT_TRUE(device.sendTo(connection->localPort(socket), bytesOf("late")));
    reader.join();
    EXPECT_TRUE(got);

    // A packet already queued is returned even with a negative time-out.
    ASSERT_TRUE(device.sendTo(connection->localPort(socket), bytesOf("queued")));
    ASSERT_TRUE(waitFor([&] { return connection->receive(packet, -1); }));
    EXPECT_EQ(packet->data, bytesOf("queued"));
}

TEST_F(NetManagerIo, CloseWakesEveryWaitingReaderAndClosesOnlyItsOwnSockets) {
    UdpPeer device;
    auto manager = makeManager();
    auto first = manager->createConnection();
    auto second = manager->createConnection();
    int a = -1;
    int b = -1;
    ASSERT_EQ(first->open(NetManager::kSocketUdp, device.port(), a), 0);
    ASSERT_EQ(second->open(NetManager::kSocketUdp, device.port(), b), 0);

    std::atomic<int> woken{0};
    std::thread r1([&] {
        Packet p;
        woken += first->receive(p, 0) ? 100 : 1;
    });
    std::thread r2([&] {
        Packet p;
        woken += first->receive(p, 0) ? 100 : 1;
    });
    first->close();
    r1.join();
    r2.join();
    EXPECT_EQ(woken, 2);
    EXPECT_EQ(first->localPort(a), NetManager::kUnknownPort);
    EXPECT_FALSE(first->send(NetManager::makePacket(a, bytesOf("x"))));

    ASSERT_TRUE(device.sendTo(second->localPort(b), bytesOf("still here")));
    Packet packet;
    ASSERT_TRUE(second->receive(packet, 10000));
    EXPECT_EQ(packet->data, bytesOf("still here"));
}

TEST_F(NetManagerIo, HandlerTakesEveryPacketOnThePollThread) {
    UdpPeer device;
    auto manager = makeManager();
    auto connection = manager->createConnection();
    int socket = -1;
    ASSERT_EQ(connection->open(NetManager::kSocketUdp, device.port(), socket), 0);

    std::mutex mutex;
    std::vector<Bytes> handled;
    std::atomic<bool> onTestThread{false};
    const auto testThread = std::this_thread::get_id();
    connection->setPacketHandler([&](Packet packet) {
        onTestThread = onTestThread || std::this_thread::get_id() == testThread;
        if (packet->data == bytesOf("throw")) {
            throw std::runtime_error("handler failure");
        }
        std::lock_guard<std::mutex> guard(mutex);
        handled.push_back(packet->data);
    });
    const uint16_t port = connection->localPort(socket);
    ASSERT_TRUE(device.sendTo(port, bytesOf("a")));
    ASSERT_TRUE(device.sendTo(port, bytesOf("throw")));
    ASSERT_TRUE(device.sendTo(port, bytesOf("b")));
    EXPECT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> guard(mutex);
        return handled.size() == 2;
    }));
    {
        std::lock_guard<std::mutex> guard(mutex);
        EXPECT_EQ(handled, (std::vector<Bytes>{bytesOf("a"), bytesOf("b")}));
    }
    EXPECT_FALSE(onTestThread);
    Packet packet;
    EXPECT_FALSE(connection->receive(packet, -1)) << "nothing reaches the queue";
}

TEST_F(NetManagerIo, PeerCloseReportsOnceClosesTheSocketAndFailsLaterSends) {
    TcpListener listener;
    UdpPeer device;
    auto manager = makeManager();
    auto control = manager->createConnection();
    auto media = manager->createConnection();
    int udp = -1;
    ASSERT_EQ(media->open(NetManager::kSocketUdp, device.port(), udp), 0);
    const int descriptorsBefore = openDescriptorCount();

    int tcp = -1;
    ASSERT_EQ(control->open(NetManager::kSocketTcp, listener.port(), tcp), 0);
    const int peer = listener.accept();
    ASSERT_GE(peer, 0);
    close(peer);

    ASSERT_TRUE(waitFor([&] { return errors_.count(kNetRecvFailed) == 1; }));
    EXPECT_EQ(errors_.entries().front().first, tcp);
    EXPECT_FALSE(control->send(NetManager::makePacket(tcp, bytesOf("late"))));
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << "the dropped socket was closed";

    // Later passes run (a datagram gets through) without a second report.
    ASSERT_TRUE(device.sendTo(media->localPort(udp), bytesOf("ping")));
    Packet packet;
    ASSERT_TRUE(media->receive(packet, 10000));
    EXPECT_EQ(errors_.entries().size(), 1u);

    // The closed handle number may go to another connection's socket; closing the first
    // connection must leave that one alone.
    int reused = -1;
    ASSERT_EQ(media->open(NetManager::kSocketUdp, device.port(), reused), 0);
    control->close();
    EXPECT_NE(media->localPort(reused), NetManager::kUnknownPort);
    EXPECT_TRUE(media->send(NetManager::makePacket(reused, bytesOf("alive"))));
}

TEST_F(NetManagerIo, HangUpReportsOnceAndClosesTheSocket) {
    TcpListener listener;
    UdpPeer device;
    auto manager = makeManager();
    auto control = manager->createConnection();
    auto media = manager->createConnection();
    int udp = -1;
    ASSERT_EQ(media->open(NetManager::kSocketUdp, device.port(), udp), 0);
    const int descriptorsBefore = openDescriptorCount();

    int tcp = -1;
    ASSERT_EQ(control->open(NetManager::kSocketTcp, listener.port(), tcp), 0);
    const int peer = listener.accept();
    ASSERT_GE(peer, 0);
    closeWithReset(peer);

    ASSERT_TRUE(waitFor([&] { return errors_.entries().size() == 1; }));
    EXPECT_EQ(errors_.entries().front(), std::make_pair(tcp, static_cast<int>(kNetHangUp)));
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    EXPECT_FALSE(control->send(NetManager::makePacket(tcp, bytesOf("late"))));

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(device.sendTo(media->localPort(udp), bytesOf("ping")));
        Packet packet;
        ASSERT_TRUE(media->receive(packet, 10000));
    }
    EXPECT_EQ(errors_.entries().size(), 1u);
}

TEST_F(NetManagerIo, SendToAPeerThatHasGoneFailsWithoutABrokenPipeSignal) {
    TcpListener listener;
    UdpPeer device;
    auto manager = makeManager();
    auto control = manager->createConnection();
    auto media = manager->createConnection();
    int tcp = -1;
    int udp = -1;
    ASSERT_EQ(control->open(NetManager::kSocketTcp, listener.port(), tcp), 0);
    ASSERT_EQ(media->open(NetManager::kSocketUdp, device.port(), udp), 0);
    const int peer = listener.accept();
    ASSERT_GE(peer, 0);

    // Park the poll thread in a handler so it cannot drop the socket before the sends below.
    std::mutex gate;
    std::unique_lock<std::mutex> closed(gate);
    std::atomic<bool> parked{false};
    media->setPacketHandler([&](Packet) {
        parked = true;
        std::lock_guard<std::mutex> wait(gate);
    });
    ASSERT_TRUE(device.sendTo(media->localPort(udp), bytesOf("park")));
    ASSERT_TRUE(waitFor([&] { return parked.load(); }));

    close(peer);
    // The first send after the close draws a reset; one of the next ones meets the broken
    // pipe, which must come back as a failure, not as a signal.
    EXPECT_TRUE(waitFor(
        [&] { return !control->send(NetManager::makePacket(tcp, bytesOf("are you there?"))); }));
    EXPECT_EQ(errors_.entries(), (std::vector<std::pair<int, int>>{{tcp, kNetSendFailed}}));
    closed.unlock();
}

TEST_F(NetManagerIo, HandleClosedBehindTheManagersBackIsDropped) {
    UdpPeer device;
    auto manager = makeManager();
    auto first = manager->createConnection();
    auto second = manager->createConnection();
    int stale = -1;
    int live = -1;
    ASSERT_EQ(first->open(NetManager::kSocketUdp, device.port(), stale), 0);
    ASSERT_EQ(second->open(NetManager::kSocketUdp, device.port(), live), 0);
    close(stale);
    ASSERT_TRUE(waitFor([&] { return first->localPort(stale) == NetManager::kUnknownPort; }));
    EXPECT_EQ(errors_.entries(), (std::vector<std::pair<int, int>>{{stale, kNetHangUp}}));

    ASSERT_TRUE(device.sendTo(second->localPort(live), bytesOf("still polled")));
    Packet packet;
    ASSERT_TRUE(second->receive(packet, 10000));
    EXPECT_EQ(errors_.entries().size(), 1u);
}

TEST_F(NetManagerIo, ErrorCallbackThatThrowsLeavesThePollThreadRunning) {
    TcpListener listener;
    UdpPeer device;
    std::atomic<int> calls{0};
    auto manager =
        std::make_shared<NetManager>(anyAddress(), loopbackAddress(), [&](int, unsigned) {
            ++calls;
            throw std::runtime_error("callback failure");
        });
    auto connection = manager->createConnection();
    int udp = -1;
    int tcp = -1;
    ASSERT_EQ(connection->open(NetManager::kSocketUdp, device.port(), udp), 0);
    ASSERT_EQ(connection->open(NetManager::kSocketTcp, listener.port(), tcp), 0);
    close(listener.accept());
    ASSERT_TRUE(waitFor([&] { return calls == 1; }));
    ASSERT_TRUE(device.sendTo(connection->localPort(udp), bytesOf("ping")));
    Packet packet;
    EXPECT_TRUE(connection->receive(packet, 10000));
}

TEST_F(NetManagerIo, TcpSendThatMakesNoProgressGivesUp) {
    TcpListener listener;
    auto manager = makeManager();
    auto connection = manager->createConnection();
    int socket = -1;
    ASSERT_EQ(connection->open(NetManager::kSocketTcp, listener.port(), socket), 0);
    const int peer = listener.accept(); // never reads
    ASSERT_GE(peer, 0);

    // Far more than the socket buffers on both ends hold.
    const Bytes big(64u << 20, 0x5A);
    EXPECT_FALSE(connection->send(NetManager::makePacket(socket, big)));
    EXPECT_EQ(errors_.entries(), (std::vector<std::pair<int, int>>{{socket, kNetSendFailed}}));
    close(peer);
}

} // namespace
