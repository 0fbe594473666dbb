// Opening failures, shutdown, and what a manager leaves behind.
#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sched.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "net/net_manager.h"
#include "net_test_support.h"

namespace {

using namespace nettest;

TEST(SocketAddress, ResolvesNumericAddressesWithEveryByteDefined) {
    sockaddr_storage first;
    std::memset(&first, 0xAA, sizeof(first));
    sockaddr_storage second;
    std::memset(&second, 0x55, sizeof(second));
    ASSERT_EQ(resolveAddress("127.0.0.1", first), 0);
    ASSERT_EQ(resolveAddress("127.0.0.1", second), 0);
    EXPECT_EQ(std::memcmp(&first, &second, sizeof(first)), 0);
    EXPECT_EQ(first.ss_family, AF_INET);
    EXPECT_EQ(addressLength(first), 16);
    EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in&>(first).sin_port), 80);
    setAddressPort(first, 4500);
    EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in&>(first).sin_port), 4500);

    sockaddr_storage v6;
    ASSERT_EQ(resolveAddress("::1", v6), 0);
    EXPECT_EQ(v6.ss_family, kFamilyIPv6);
    EXPECT_EQ(addressLength(v6), 28);
    setAddressPort(v6, 8080);
    EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in6&>(v6).sin6_port), 8080);

    sockaddr_storage other{};
    other.ss_family = AF_UNIX;
    setAddressPort(other, 1234);
    sockaddr_storage untouched{};
    untouched.ss_family = AF_UNIX;
    EXPECT_EQ(std::memcmp(&other, &untouched, sizeof(other)), 0);
    EXPECT_EQ(addressLength(other), 0);
}

TEST(NetManagerOpen, RefusedConnectionGives3004AndLeavesNothingOpen) {
    // Bound but not listening: a connect to it is refused at once.
    const int closedPort = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(closedPort, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    socklen_t length = sizeof(address);
    getsockname(closedPort, reinterpret_cast<sockaddr*>(&address), &length);

    ErrorLog errors;
    auto manager = makeManager(errors);
    auto connection = manager->createConnection();
    const int descriptors = openDescriptorCount();
    const int threads = threadCount();
    int socket = -1;
    EXPECT_EQ(connection->open(NetManager::kSocketTcp, ntohs(address.sin_port), socket),
              kNetConnectFailed);
    EXPECT_EQ(socket, -1);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(threadCount(), threads) << "no poll thread before the first successful open";

    TcpListener listener;
    ASSERT_EQ(connection->open(NetManager::kSocketTcp, listener.port(), socket), 0);
    EXPECT_EQ(threadCount(), threads + 1);
    manager->shutdown();
    close(closedPort);
}

TEST(NetManagerOpen, UnansweredConnectGives3005AfterTheConnectWait) {
    // The connect needs somewhere that swallows the SYN. This thread moves into a network
    // namespace of its own where 10.77.0.2 is routed over loopback but is nobody's address, so
    // the SYN is dropped on arrival; the namespace goes away with the thread.
    int code = 0;
    int descriptorsBefore = 0;
    int descriptorsAfter = 0;
    bool isolated = false;
    std::thread probe([&] {
        if (unshare(CLONE_NEWNET) != 0 ||
            std::system("ip link set lo up && ip addr add 10.77.0.1/32 dev lo && "
                        "ip route add 10.77.0.2/32 dev lo src 10.77.0.1") != 0) {
            return;
        }
        isolated = true;
        sockaddr_storage local;
        sockaddr_storage silent;
        resolveAddress("0.0.0.0", local);
        resolveAddress("10.77.0.2", silent);
        auto manager = std::make_shared<NetManager>(local, silent, nullptr);
        auto connection = manager->createConnection();
        descriptorsBefore = openDescriptorCount();
        int socket = -1;
        code = connection->open(NetManager::kSocketTcp, 8080, socket);
        descriptorsAfter = openDescriptorCount();
    });
    probe.join();
    if (!isolated) {
        GTEST_SKIP() << "needs CAP_NET_ADMIN and the ip tool for a private network namespace";
    }
    EXPECT_EQ(code, kNetConnectTimeout);
    EXPECT_EQ(descriptorsAfter, descriptorsBefore);
}

TEST(NetManagerOpen, NinthSocketUnknownKindAndUnknownConnectionGive3016) {
    UdpPeer device;
    ErrorLog errors;
    auto manager = makeManager(errors);
    auto connection = manager->createConnection();
    int socket = -1;
    EXPECT_EQ(connection->open(3, device.port(), socket), kNetNoResource);
    EXPECT_EQ(connection->open(0, device.port(), socket), kNetNoResource);
    for (int i = 0; i < 8; ++i) {
        ASSERT_GE(openUdp(*connection, device), 0) << i;
    }
    const int descriptors = openDescriptorCount();
    int ninth = -1;
    EXPECT_EQ(connection->open(NetManager::kSocketUdp, device.port(), ninth), kNetNoResource);
    EXPECT_EQ(manager->createConnection()->open(NetManager::kSocketTcp, 1, ninth), kNetNoResource);
    EXPECT_EQ(ninth, -1);
    EXPECT_EQ(openDescriptorCount(), descriptors);

    manager->shutdown();
    EXPECT_EQ(connection->open(NetManager::kSocketUdp, device.port(), socket), kNetNoResource)
        << "shutdown forgets every connection";
    auto fresh = manager->createConnection();
    EXPECT_EQ(fresh->open(NetManager::kSocketUdp, device.port(), socket), 0)
        << "a shut-down manager starts over";
}

// Marks the end of the thread it was first used on: thread-local objects are destroyed as
// the thread exits, before a join of it can return.
struct ThreadEndMarker {
    std::atomic<bool>* ended = nullptr;
    ~ThreadEndMarker() {
        if (ended != nullptr) {
            *ended = true;
        }
    }
};
thread_local ThreadEndMarker threadEndMarker;

TEST(NetManagerShutdown, WakesBlockedReaderAndHasJoinedThePollThread) {
    TcpListener listener;
    UdpPeer device;
    ErrorLog errors;
    const int descriptorsBefore = openDescriptorCount();
    ClientConnections client(errors);
    ASSERT_TRUE(client.openControl(listener));
    ASSERT_TRUE(client.openMedia(device));

    std::atomic<bool> pollThreadEnded{false};
    std::atomic<bool> marked{false};
    client.media->setPacketHandler([&](Packet) {
        threadEndMarker.ended = &pollThreadEnded;
        marked = true;
    });
    ASSERT_TRUE(sendToSocket(device, *client.media, client.udp, bytesOf("mark")));
    ASSERT_TRUE(waitFor([&] { return marked.load(); }));

    std::atomic<int> result{-1};
    std::thread reader([&] {
        Packet packet;
        result = client.control->receive(packet, 0) ? 1 : 0;
    });
    client.manager->shutdown();
    EXPECT_TRUE(pollThreadEnded);
    reader.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(client.control->send(NetManager::makePacket(client.link.socket, bytesOf("x"))));
    close(client.link.peer);
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    client.manager->shutdown(); // a second shutdown is harmless
    client.control->close();    // and so is closing a connection of a shut-down manager
}

TEST(NetManagerShutdown, CalledFromAHandlerDoesNotJoinItself) {
    UdpPeer device;
    ErrorLog errors;
    auto manager = makeManager(errors);
    auto connection = manager->createConnection();
    const int socket = openUdp(*connection, device);
    ASSERT_GE(socket, 0);
    std::atomic<bool> handled{false};
    connection->setPacketHandler([&](Packet) {
        manager->shutdown();
        handled = true;
    });
    ASSERT_TRUE(sendToSocket(device, *connection, socket, bytesOf("stop")));
    ASSERT_TRUE(waitFor([&] { return handled.load(); }));
    manager->shutdown(); // joins the thread the handler could not
}

// One manager's life as a client lives it: control over TCP, media over UDP, then teardown.
void oneLifetime(TcpListener& listener, UdpPeer& device, int round) {
    ErrorLog errors;
    ClientConnections client(errors);
    ASSERT_TRUE(client.openControl(listener));
    ASSERT_TRUE(client.openMedia(device));
    ASSERT_TRUE(relay(device, *client.media, client.udp, bytesOf("frame")));
    close(client.link.peer);
    if (round % 2 == 0) {
        // Half of them end from the device's side first.
        ASSERT_TRUE(errors.waitForReports(kNetRecvFailed, 1));
    }
    client.control->close();
    client.media->close();
    client.manager->shutdown();
}

TEST(NetManagerShutdown, TwoHundredLifetimesLeaveNoDescriptorOrThread) {
    constexpr int kWorkers = 4;
    constexpr int kRoundsEach = 50;
    const int descriptorsBefore = openDescriptorCount();
    const int threadsBefore = threadCount();
    {
        std::vector<std::thread> workers;
        for (int w = 0; w < kWorkers; ++w) {
            workers.emplace_back([] {
                TcpListener listener;
                UdpPeer device;
                for (int round = 0; round < kRoundsEach; ++round) {
                    oneLifetime(listener, device, round);
                }
            });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
    }
    const int descriptorsAfter = openDescriptorCount();
    // A joined thread can linger in the task list for a moment after its join returned.
    waitFor([&] { return threadCount() <= threadsBefore; });
    const int threadsAfter = threadCount();
    RecordProperty("descriptors",
                   std::to_string(descriptorsBefore) + " -> " + std::to_string(descriptorsAfter));
    RecordProperty("threads",
                   std::to_string(threadsBefore) + " -> " + std::to_string(threadsAfter));
    std::printf("200 lifetimes: descriptors %d -> %d, threads %d -> %d\n", descriptorsBefore,
                descriptorsAfter, threadsBefore, threadsAfter);
    EXPECT_EQ(descriptorsAfter, descriptorsBefore);
    EXPECT_EQ(threadsAfter, threadsBefore);
}

// Runs `body` in a child process that has given up root, with a manager, one of its
// connections and a UDP device made after the drop; the child's exit status is the verdict, so
// a process exit from inside the manager shows up as a failure.
using UnprivilegedBody = std::function<bool(UdpPeer& device, Connection& connection)>;
void runUnprivileged(bool limitThreads, const UnprivilegedBody& body) {
    if (limitThreads) {
        const rlimit none{0, 0};
        setrlimit(RLIMIT_NPROC, &none);
    }
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) {
        std::_Exit(3);
    }
    UdpPeer device;
    ErrorLog errors;
    auto manager = makeManager(errors);
    auto connection = manager->createConnection();
    const bool passed = body(device, *connection);
    manager->shutdown();
    std::_Exit(passed ? 0 : 2);
}

class NetManagerUnprivileged : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root to drop privileges in a child";
        }
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
};

TEST_F(NetManagerUnprivileged, PollThreadRunsWhenItsPriorityCannotBeRaised) {
    EXPECT_EXIT(runUnprivileged(false,
                                [](UdpPeer& device, Connection& connection) {
                                    const int socket = openUdp(connection, device);
                                    return socket >= 0 && relay(device, connection, socket,
                                                                bytesOf("hi")) != nullptr;
                                }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(NetManagerUnprivileged, PollThreadThatCannotStartGives3016AndClosesTheSocket) {
    EXPECT_EXIT(runUnprivileged(true,
                                [](UdpPeer& device, Connection& connection) {
                                    const int descriptors = openDescriptorCount();
                                    int socket = -1;
                                    const int code = connection.open(NetManager::kSocketUdp,
                                                                     device.port(), socket);
                                    return code == kNetNoResource && socket == -1 &&
                                           openDescriptorCount() == descriptors;
                                }),
                ::testing::ExitedWithCode(0), "");
}

} // namespace
