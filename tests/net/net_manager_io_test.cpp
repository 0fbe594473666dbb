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

int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class NetManagerIo : public ::testing::Test {
protected:
    std::shared_ptr<NetManager> makeManager() { return nettest::makeManager(errors_); }

    ErrorLog errors_;
};

TEST_F(NetManagerIo, TcpRoundTripCarriesSocketAndPassTimestamp) {
    TcpListener listener;
    auto manager = makeManager();
    auto connection = manager->createConnection();
    const TcpLink link = connectTcp(*connection, listener);
    ASSERT_TRUE(link.ok());

    auto outgoing = NetManager::makePacket(link.socket, bytesOf("hello"));
    EXPECT_EQ(outgoing->timestamp, INT64_MIN);
    EXPECT_TRUE(connection->send(std::move(outgoing)));
    EXPECT_EQ(receiveBytes(link.peer, 5), bytesOf("hello"));

    const int64_t before = steadyNowNs();
    ASSERT_TRUE(sendAllBytes(link.peer, bytesOf("world")));
    Packet packet;
    ASSERT_TRUE(connection->receive(packet, 10000));
    EXPECT_EQ(packet->data, bytesOf("world"));
    EXPECT_EQ(packet->socket, link.socket);
    EXPECT_GE(packet->timestamp, before);
    EXPECT_LE(packet->timestamp, steadyNowNs());
    EXPECT_TRUE(errors_.entries().empty());
    close(link.peer);
}

// One connection with a UDP socket open for the device.
class NetManagerUdp : public NetManagerIo {
protected:
    void SetUp() override {
        socket_ = openUdp(*connection_, device_);
        ASSERT_GE(socket_, 0);
    }

    UdpPeer device_;
    std::shared_ptr<NetManager> manager_ = makeManager();
    std::shared_ptr<Connection> connection_ = manager_->createConnection();
    int socket_ = -1;
};

TEST_F(NetManagerUdp, UdpSocketsSendToThePeerPortAndReportTheirBoundPort) {
    const uint16_t localPort = connection_->localPort(socket_);
    ASSERT_NE(localPort, 0);
    ASSERT_NE(localPort, NetManager::kUnknownPort);
    EXPECT_EQ(connection_->localPort(socket_ + 1000), NetManager::kUnknownPort);

    EXPECT_TRUE(connection_->send(NetManager::makePacket(socket_, bytesOf("probe"))));
    EXPECT_EQ(device_.receive(), bytesOf("probe"));

    // One datagram is one packet, however many are waiting.
    ASSERT_TRUE(device_.sendTo(localPort, bytesOf("one")));
    ASSERT_TRUE(device_.sendTo(localPort, bytesOf("two")));
    Packet packet;
    ASSERT_TRUE(connection_->receive(packet, 0));
    EXPECT_EQ(packet->data, bytesOf("one"));
    ASSERT_TRUE(connection_->receive(packet, 0));
    EXPECT_EQ(packet->data, bytesOf("two"));
}

TEST_F(NetManagerUdp, SendRefusesForeignSocketsQuietlyAndSendsNothingForEmptyPayload) {
    EXPECT_FALSE(connection_->send(NetManager::makePacket(socket_ + 1000, bytesOf("x"))));
    EXPECT_FALSE(connection_->send(nullptr));
    EXPECT_TRUE(connection_->send(NetManager::makePacket(socket_, {})));
    EXPECT_TRUE(connection_->send(NetManager::makePacket(socket_, bytesOf("after"))));
    EXPECT_EQ(device_.receive(), bytesOf("after")) << "the empty payload sent no datagram";
    EXPECT_TRUE(errors_.entries().empty());
}

TEST_F(NetManagerUdp, ReceiveTimeouts) {
    Packet packet;
    EXPECT_FALSE(connection_->receive(packet, -1));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(connection_->receive(packet, 30));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

    // Without limit: returns with the packet once one arrives.
    std::atomic<bool> got{false};
    std::thread reader([&] {
        Packet p;
        got = connection_->receive(p, 0) && p->data == bytesOf("late");
    });
    ASSERT_TRUE(sendToSocket(device_, *connection_, socket_, bytesOf("late")));
    reader.join();
    EXPECT_TRUE(got);

    // A packet already queued is returned even with a negative time-out.
    ASSERT_TRUE(sendToSocket(device_, *connection_, socket_, bytesOf("queued")));
    ASSERT_TRUE(waitFor([&] { return connection_->receive(packet, -1); }));
    EXPECT_EQ(packet->data, bytesOf("queued"));
}

TEST_F(NetManagerIo, CloseWakesEveryWaitingReaderAndClosesOnlyItsOwnSockets) {
    UdpPeer device;
    auto manager = makeManager();
    auto first = manager->createConnection();
    auto second = manager->createConnection();
    const int a = openUdp(*first, device);
    const int b = openUdp(*second, device);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);

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

    const Packet packet = relay(device, *second, b, bytesOf("still here"));
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->data, bytesOf("still here"));
}

TEST_F(NetManagerUdp, HandlerTakesEveryPacketOnThePollThread) {
    std::mutex mutex;
    std::vector<Bytes> handled;
    std::atomic<bool> onTestThread{false};
    const auto testThread = std::this_thread::get_id();
    connection_->setPacketHandler([&](Packet packet) {
        onTestThread = onTestThread || std::this_thread::get_id() == testThread;
        if (packet->data == bytesOf("throw")) {
            throw std::runtime_error("handler failure");
        }
        std::lock_guard<std::mutex> guard(mutex);
        handled.push_back(packet->data);
    });
    const uint16_t port = connection_->localPort(socket_);
    ASSERT_TRUE(device_.sendTo(port, bytesOf("a")));
    ASSERT_TRUE(device_.sendTo(port, bytesOf("throw")));
    ASSERT_TRUE(device_.sendTo(port, bytesOf("b")));
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
    EXPECT_FALSE(connection_->receive(packet, -1)) << "nothing reaches the queue";
}

// A client with its media socket open and its control link to the device accepted. The media
// socket comes first, so the descriptor count taken between the two tells whether the control
// socket was closed.
class NetManagerClient : public NetManagerIo {
protected:
    void SetUp() override {
        ASSERT_TRUE(client_.openMedia(device_));
        descriptorsWithoutControl_ = openDescriptorCount();
        ASSERT_TRUE(client_.openControl(listener_));
    }

    bool sendOnControl(const std::string& text) {
        return client_.control->send(NetManager::makePacket(client_.link.socket, bytesOf(text)));
    }

    // Whether a datagram from the device still reaches the media connection.
    bool mediaStillPolled() {
        return relay(device_, *client_.media, client_.udp, bytesOf("ping")) != nullptr;
    }

    TcpListener listener_;
    UdpPeer device_;
    ClientConnections client_{errors_};
    int descriptorsWithoutControl_ = 0;
};

TEST_F(NetManagerClient, PeerCloseReportsOnceClosesTheSocketAndFailsLaterSends) {
    close(client_.link.peer);

    ASSERT_TRUE(errors_.waitForReports(kNetRecvFailed, 1));
    EXPECT_EQ(errors_.entries().front().first, client_.link.socket);
    EXPECT_FALSE(sendOnControl("late"));
    EXPECT_EQ(openDescriptorCount(), descriptorsWithoutControl_) << "the dropped socket was closed";

    // Later passes run (a datagram gets through) without a second report.
    ASSERT_TRUE(mediaStillPolled());
    EXPECT_EQ(errors_.entries().size(), 1u);

    // The closed handle number may go to another connection's socket; closing the first
    // connection must leave that one alone.
    const int reused = openUdp(*client_.media, device_);
    ASSERT_GE(reused, 0);
    client_.control->close();
    EXPECT_NE(client_.media->localPort(reused), NetManager::kUnknownPort);
    EXPECT_TRUE(client_.media->send(NetManager::makePacket(reused, bytesOf("alive"))));
}

TEST_F(NetManagerClient, HangUpReportsOnceAndClosesTheSocket) {
    closeWithReset(client_.link.peer);

    ASSERT_TRUE(errors_.waitForReports(1));
    EXPECT_EQ(errors_.entries().front(), ErrorLog::Entry(client_.link.socket, kNetHangUp));
    EXPECT_EQ(openDescriptorCount(), descriptorsWithoutControl_);
    EXPECT_FALSE(sendOnControl("late"));

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(mediaStillPolled());
    }
    EXPECT_EQ(errors_.entries().size(), 1u);
}

TEST_F(NetManagerClient, SendToAPeerThatHasGoneFailsWithoutABrokenPipeSignal) {
    // Park the poll thread in a handler so it cannot drop the socket before the sends below.
    std::mutex gate;
    std::unique_lock<std::mutex> closed(gate);
    std::atomic<bool> parked{false};
    client_.media->setPacketHandler([&](Packet) {
        parked = true;
        std::lock_guard<std::mutex> wait(gate);
    });
    ASSERT_TRUE(sendToSocket(device_, *client_.media, client_.udp, bytesOf("park")));
    ASSERT_TRUE(waitFor([&] { return parked.load(); }));

    close(client_.link.peer);
    // The first send after the close draws a reset; one of the next ones meets the broken
    // pipe, which must come back as a failure, not as a signal.
    EXPECT_TRUE(waitFor([&] { return !sendOnControl("are you there?"); }));
    EXPECT_EQ(errors_.entries(), (ErrorLog::Entries{{client_.link.socket, kNetSendFailed}}));
    closed.unlock();
    // The handler still holds the gate for a moment; it must be done before the gate goes.
    client_.manager->shutdown();
}

TEST_F(NetManagerIo, HandleClosedBehindTheManagersBackIsDropped) {
    UdpPeer device;
    auto manager = makeManager();
    auto first = manager->createConnection();
    auto second = manager->createConnection();
    const int stale = openUdp(*first, device);
    const int live = openUdp(*second, device);
    ASSERT_GE(stale, 0);
    ASSERT_GE(live, 0);
    close(stale);
    ASSERT_TRUE(waitFor([&] { return first->localPort(stale) == NetManager::kUnknownPort; }));
    EXPECT_EQ(errors_.entries(), (ErrorLog::Entries{{stale, kNetHangUp}}));

    ASSERT_TRUE(relay(device, *second, live, bytesOf("still polled")));
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
    const int udp = openUdp(*connection, device);
    ASSERT_GE(udp, 0);
    const TcpLink link = connectTcp(*connection, listener);
    ASSERT_TRUE(link.ok());
    close(link.peer);
    ASSERT_TRUE(waitFor([&] { return calls == 1; }));
    EXPECT_TRUE(relay(device, *connection, udp, bytesOf("ping")));
}

TEST_F(NetManagerIo, TcpSendThatMakesNoProgressGivesUp) {
    TcpListener listener;
    auto manager = makeManager();
    auto connection = manager->createConnection();
    const TcpLink link = connectTcp(*connection, listener); // the peer never reads
    ASSERT_TRUE(link.ok());

    // Far more than the socket buffers on both ends hold.
    const Bytes big(64u << 20, 0x5A);
    EXPECT_FALSE(connection->send(NetManager::makePacket(link.socket, big)));
    EXPECT_EQ(errors_.entries(), (ErrorLog::Entries{{link.socket, kNetSendFailed}}));
    close(link.peer);
}

} // namespace
