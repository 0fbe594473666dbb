// The platform layer's promises that differ most between POSIX and Winsock, checked on each.
#include <chrono>
#include <cstring>
#include <future>

#ifndef _WIN32
#include <fcntl.h>
#endif

#include <gtest/gtest.h>

#include "net_test_support.h" // Winsock and windows.h in their order on Windows

namespace {

using namespace nettest;

bool isInheritable(SocketHandle socket) {
#ifdef _WIN32
    DWORD flags = 0;
    return ::GetHandleInformation(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(socket)),
                                  &flags) == 0 ||
           (flags & HANDLE_FLAG_INHERIT) != 0;
#else
    const int flags = ::fcntl(socket, F_GETFD);
    return flags < 0 || (flags & FD_CLOEXEC) == 0;
#endif
}

// A datagram socket bound to an ephemeral port on 127.0.0.1, closed at the end of the scope.
struct BoundUdp {
    BoundUdp() : socket(createSocket(kFamilyIPv4, SOCK_DGRAM, 0)) {
        sockaddr_storage bound = address("127.0.0.1");
        bindSocket(socket, bound, addressLength(bound));
        localAddress(socket, bound);
        port = ntohs(reinterpret_cast<const sockaddr_in&>(bound).sin_port);
    }
    ~BoundUdp() { closeSocket(socket); }
    SocketHandle socket;
    uint16_t port = 0;
};

TEST(SocketPlatform, SocketsOfEveryKindAreNotInherited) {
    // A process the host starts later must not keep the car's connections open.
    for (const int type : {SOCK_STREAM, SOCK_DGRAM}) {
        const SocketHandle socket = createSocket(kFamilyIPv4, type, 0);
        ASSERT_NE(socket, kInvalidSocket);
        EXPECT_FALSE(isInheritable(socket)) << "type " << type;
        closeSocket(socket);
    }
}

TEST(SocketPlatform, ReceiveTimeoutIsCountedInMilliseconds) {
    // Winsock takes a DWORD of milliseconds where POSIX takes a timeval: handed the wrong shape,
    // the limit reads as none at all (the receive blocks) or as a much longer one.
    BoundUdp socket;
    ASSERT_TRUE(setReceiveTimeout(socket.socket, 300));
    auto receive = std::async(std::launch::async, [&] {
        uint8_t byte = 0;
        const auto start = std::chrono::steady_clock::now();
        const long received = receiveDatagram(socket.socket, &byte, 1);
        const bool timedOut = received < 0 && isReceiveTimeout(lastSocketError());
        return std::make_pair(timedOut, std::chrono::steady_clock::now() - start);
    });
    if (receive.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        UdpPeer waker;
        waker.sendTo(socket.port, bytesOf("wake"));
        receive.wait();
        FAIL() << "the receive did not give up";
    }
    const auto [timedOut, waited] = receive.get();
    EXPECT_TRUE(timedOut);
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST(SocketPlatform, LongDatagramIsCutAndTheNextOneReadWhole) {
    BoundUdp socket;
    UdpPeer peer;
    ASSERT_TRUE(peer.sendTo(socket.port, bytesOf("0123456789")));
    ASSERT_TRUE(peer.sendTo(socket.port, bytesOf("next")));
    uint8_t buffer[16] = {};
    sockaddr_storage from{};
    ASSERT_EQ(receiveDatagramFrom(socket.socket, buffer, 4, from), 4);
    EXPECT_EQ(Bytes(buffer, buffer + 4), bytesOf("0123"));
    const sockaddr_storage sender = address("127.0.0.1", peer.port());
    EXPECT_EQ(std::memcmp(&from, &sender, sizeof(from)), 0);
    ASSERT_EQ(receiveDatagram(socket.socket, buffer, sizeof(buffer)), 4);
    EXPECT_EQ(Bytes(buffer, buffer + 4), bytesOf("next"));
}

TEST(SocketPlatform, SendToAClosedPortDoesNotFailTheNextReceive) {
    // Windows reports the "port unreachable" answer to an unconnected datagram socket as a failed
    // receive, which would end a media stream for one lost packet.
    BoundUdp socket;
    uint16_t closedPort = 0;
    {
        BoundUdp gone;
        closedPort = gone.port;
    }
    const sockaddr_storage nowhere = address("127.0.0.1", closedPort);
    const uint8_t probe = 1;
    ASSERT_EQ(sendDatagram(socket.socket, &probe, 1, nowhere, addressLength(nowhere)), 1);
    UdpPeer peer;
    ASSERT_TRUE(peer.sendTo(socket.port, bytesOf("after")));
    ASSERT_TRUE(setReceiveTimeout(socket.socket, 10000));
    uint8_t buffer[16] = {};
    ASSERT_EQ(receiveDatagram(socket.socket, buffer, sizeof(buffer)), 5) << lastSocketError();
    EXPECT_EQ(Bytes(buffer, buffer + 5), bytesOf("after"));
}

TEST(SocketPlatform, AdaptersListedHaveAnAddressAndAContiguousMask) {
    // Every interface with an IPv4 address, loopback among them; one without any is left out
    // (Windows' older listing gives it as 0.0.0.0/0.0.0.0).
    const std::vector<AdapterAddress> adapters = listAdapterAddresses();
    bool loopback = false;
    for (const AdapterAddress& adapter : adapters) {
        const uint32_t mask = ntohl(adapter.mask);
        EXPECT_NE(adapter.address, 0u);
        EXPECT_NE(mask, 0u);
        EXPECT_EQ(~mask & (~mask + 1), 0u) << std::hex << mask; // ones, then only zeros
        loopback = loopback || (ntohl(adapter.address) == 0x7F000001 && mask == 0xFF000000);
    }
    EXPECT_TRUE(loopback);
}

} // namespace
