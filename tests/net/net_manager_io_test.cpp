// Opening, sending and receiving through NetManager over real loopback sockets.
#include "net_test_support.h"
#include "tests/support/bounded_wait.h"

namespace {

using namespace nettest;

int64_t steadyNowNs() {
    return std::chrono::nanoseconds(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class NetManagerIo : public ClientFixture {
protected:
    void expectControlDroppedOnceWith(int code) {
        ASSERT_TRUE(errors.waitFor({{tcp, code}}));
        EXPECT_FALSE(sendOnControl("late"));
        EXPECT_EQ(openDescriptorCount(), descriptorsWithoutControl) << "the socket was closed";
        // Later poll passes run.
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(relay(device, *media, udp, bytesOf("ping")));
        }
        EXPECT_EQ(errors.entries().size(), 1u);
    }
};

TEST_F(NetManagerIo, TcpCarriesSocketAndPassTimestampAndGivesUpWithoutProgress) {
    EXPECT_TRUE(control->send(NetManager::makePacket(tcp, bytesOf("hello"))));
    EXPECT_EQ(peerReceive(peer, 5), bytesOf("hello"));

    const int64_t before = steadyNowNs();
    ASSERT_EQ(peerSend(peer, "world"), 5);
    Packet packet;
    ASSERT_TRUE(control->receive(packet, 10000));
    EXPECT_EQ(packet->data, bytesOf("world"));
    EXPECT_EQ(packet->socket, tcp);
    EXPECT_GE(packet->timestamp, before);
    EXPECT_LE(packet->timestamp, steadyNowNs());

    // The peer reads no more; far more than the socket buffers on both ends hold.
    EXPECT_FALSE(control->send(NetManager::makePacket(tcp, Bytes(64u << 20, 0x5A))));
    EXPECT_EQ(errors.entries(), (ErrorLog::Entries{{tcp, kNetSendFailed}}));
}

TEST_F(NetManagerIo, UdpSendsReceivesAndRefusesQuietly) {
    const uint16_t localPort = media->localPort(udp);
    ASSERT_NE(localPort, 0);
    ASSERT_NE(localPort, NetManager::kUnknownPort);
    EXPECT_EQ(media->localPort(udp + 1000), NetManager::kUnknownPort);

    EXPECT_FALSE(media->send(NetManager::makePacket(udp + 1000, bytesOf("x"))));
    EXPECT_FALSE(media->send(nullptr));
    EXPECT_TRUE(media->send(NetManager::makePacket(udp, {})));
    EXPECT_TRUE(media->send(NetManager::makePacket(udp, bytesOf("probe"))));
    EXPECT_EQ(device.receive(), bytesOf("probe")) << "the empty payload sent no datagram";

    // One datagram is one packet, however many are waiting.
    ASSERT_TRUE(device.sendTo(localPort, bytesOf("one")));
    ASSERT_TRUE(device.sendTo(localPort, bytesOf("two")));
    Packet packet;
    ASSERT_TRUE(media->receive(packet, 0));
    EXPECT_EQ(packet->data, bytesOf("one"));
    ASSERT_TRUE(media->receive(packet, 0));
    EXPECT_EQ(packet->data, bytesOf("two"));
    EXPECT_TRUE(errors.entries().empty());
}

TEST_F(NetManagerIo, OversizedDatagramFailsWith3010) {
    EXPECT_FALSE(media->send(NetManager::makePacket(udp, Bytes(70000, 0x5A))));
    EXPECT_EQ(errors.entries(), (ErrorLog::Entries{{udp, kNetSendtoShort}}));
}

TEST_F(NetManagerIo, EmptyAndOversizedDatagramsAreNoErrors) {
    // An empty datagram is valid and carries nothing: no packet, no error, reading goes on.
    ASSERT_TRUE(device.sendTo(media->localPort(udp), {}));
    const Packet after = relay(device, *media, udp, bytesOf("after"));
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->data, bytesOf("after"));

    // One read per datagram, into the read buffer: the rest of a longer one is cut off, on
    // Windows too, where the receive would report it as a failure.
    Bytes longer(NetManager::kReadBufferSize + 952);
    for (size_t i = 0; i < longer.size(); ++i) {
        longer[i] = static_cast<uint8_t>(i * 7);
    }
    const Packet cut = relay(device, *media, udp, longer);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->data, Bytes(longer.begin(), longer.begin() + NetManager::kReadBufferSize));
    EXPECT_TRUE(errors.entries().empty());
}

TEST_F(NetManagerIo, DatagramSocketsKeepMoreUnreadThanTheSystemDefault) {
    const SocketHandle plain = createSocket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(plain, kInvalidSocket);
    const int standard = receiveBufferSize(plain);
    closeSocket(plain);
    ASSERT_GT(standard, 0);
    EXPECT_GT(receiveBufferSize(udp), standard);
}

TEST_F(NetManagerIo, ReceiveTimeouts) {
    Packet packet;
    EXPECT_FALSE(media->receive(packet, -1));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(media->receive(packet, 30));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

    // Without limit: returns with the packet once one arrives.
    auto late = std::async(std::launch::async, [&] {
        Packet p;
        return media->receive(p, 0) && p->data == bytesOf("late");
    });
    ASSERT_TRUE(device.sendTo(media->localPort(udp), bytesOf("late")));
    EXPECT_TRUE(late.get());

    // A packet already queued is returned even with a negative time-out.
    ASSERT_TRUE(device.sendTo(media->localPort(udp), bytesOf("queued")));
    ASSERT_TRUE(waitFor([&] { return media->receive(packet, -1); }));
    EXPECT_EQ(packet->data, bytesOf("queued"));
}

TEST(PacketQueue, CloseWakesEveryWaitingReader) {
    NetManager::PacketQueue queue;
    std::vector<std::future<bool>> readers;
    for (int i = 0; i < 3; ++i) {
        readers.push_back(std::async(std::launch::async, [&] {
            Packet packet;
            return queue.pop(packet, 0);
        }));
    }
    ASSERT_TRUE(waitFor([&] { return queue.waitingReaders() == 3; }));
    queue.close();
    for (auto& reader : readers) {
        EXPECT_FALSE(bounded::get(reader, "a reader of a closed queue"));
    }
    EXPECT_FALSE(queue.push(std::make_unique<NetManager::NetPacket>()));
}

TEST_F(NetManagerIo, CloseEndsReadsAndClosesOnlyItsOwnSockets) {
    auto reader = std::async(std::launch::async, [&] {
        Packet p;
        return media->receive(p, 0);
    });
    media->close();
    EXPECT_FALSE(bounded::get(reader, "a reader of a closed connection"));
    EXPECT_EQ(media->localPort(udp), NetManager::kUnknownPort);
    EXPECT_FALSE(media->send(NetManager::makePacket(udp, bytesOf("x"))));
    EXPECT_TRUE(sendOnControl("still here"));
}

TEST_F(NetManagerIo, HandlerTakesEveryPacketOnThePollThread) {
    std::mutex mutex;
    std::vector<Bytes> handled;
    std::atomic<bool> onTestThread{false};
    const auto testThread = std::this_thread::get_id();
    media->setPacketHandler([&](Packet packet) {
        onTestThread = onTestThread || std::this_thread::get_id() == testThread;
        if (packet->data == bytesOf("throw")) {
            throw std::runtime_error("handler failure");
        }
        std::lock_guard<std::mutex> guard(mutex);
        handled.push_back(packet->data);
    });
    for (const char* text : {"a", "throw", "b"}) {
        ASSERT_TRUE(device.sendTo(media->localPort(udp), bytesOf(text)));
    }
    EXPECT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> guard(mutex);
        return handled == std::vector<Bytes>{bytesOf("a"), bytesOf("b")};
    }));
    EXPECT_FALSE(onTestThread);
    Packet packet;
    EXPECT_FALSE(media->receive(packet, -1)) << "nothing reaches the queue";
}

TEST_F(NetManagerIo, HandleClosedBehindTheManagersBackIsDroppedDespiteAThrowingCallback) {
#ifdef _WIN32
    // Winsock hands a closed socket's value to the next socket made anywhere in the process at
    // once, so the poll thread may find it open again, now someone else's; under Wine this
    // happened in about one run of three. Only POSIX keeps the number free long enough to test.
    GTEST_SKIP() << "a handle closed behind the manager's back is reused at once on Windows";
#endif
    errors.throwAfterRecording = true;
    closeSocket(udp);
    ASSERT_TRUE(errors.waitFor({{udp, kNetHangUp}}));
    EXPECT_EQ(media->localPort(udp), NetManager::kUnknownPort);
    // Later passes still run.
    ASSERT_EQ(::send(peer, "ping", 4, 0), 4);
    Packet packet;
    ASSERT_TRUE(control->receive(packet, 10000));
    EXPECT_EQ(errors.entries().size(), 1u);
}

TEST_F(NetManagerIo, PeerCloseReportsOnceClosesTheSocketAndFailsLaterSends) {
    closePeer();
    expectControlDroppedOnceWith(kNetRecvFailed);

    // The closed handle number may go to another connection's socket; closing the first
    // connection must leave that one alone.
    const int reused = openUdp(*media, device);
    ASSERT_GE(reused, 0);
    control->close();
    EXPECT_NE(media->localPort(reused), NetManager::kUnknownPort);
    EXPECT_TRUE(media->send(NetManager::makePacket(reused, bytesOf("alive"))));
}

TEST_F(NetManagerIo, HangUpReportsOnceAndClosesTheSocket) {
    const linger reset{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof(reset));
    closePeer();
    expectControlDroppedOnceWith(kNetHangUp);
}

TEST_F(NetManagerIo, SendToAPeerThatHasGoneFailsWithoutABrokenPipeSignal) {
    // The poll thread must not drop the socket before the sends below.
    PollThreadParking parking(*this);
    ASSERT_TRUE(parking.holds());

    closePeer();
    // The first send after the close draws a reset; one of the next ones meets the broken
    // pipe, which must come back as a failure, not as a signal.
    EXPECT_TRUE(waitFor([&] { return !sendOnControl("are you there?"); }));
    EXPECT_EQ(errors.entries(), (ErrorLog::Entries{{tcp, kNetSendFailed}}));
    parking.release();
    manager->shutdown();
}

} // namespace
