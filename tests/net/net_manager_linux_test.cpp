// What the socket layer does where only Linux can set the scene: a closed port reported to a
// connected datagram socket, a network namespace without a route or with a black hole, too few
// descriptors for a poll, no right to raise a priority or to start a thread.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "net_test_support.h"

namespace {

using namespace nettest;

using NetManagerLinux = ClientFixture;

TEST_F(NetManagerLinux, FailedReceiveReports3014) {
    // A receive that fails: aimed at a port where nobody listens, the media socket gets the
    // "port unreachable" answer as its pending error, which the next receive returns. The poll
    // thread is parked meanwhile, so its next read of the socket comes after these calls.
    PollThreadParking parking(*this);
    ASSERT_TRUE(parking.holds());
    uint16_t unusedPort = 0;
    {
        UdpPeer gone;
        unusedPort = gone.port();
    }
    const sockaddr_storage nowhere = address("127.0.0.1", unusedPort);
    ASSERT_EQ(::connect(udp, reinterpret_cast<const sockaddr*>(&nowhere), addressLength(nowhere)),
              0);
    ASSERT_EQ(::send(udp, "x", 1, 0), 1);
    parking.release();
    EXPECT_TRUE(errors.waitFor({{udp, kNetRecvfromFailed}}));
    manager->shutdown();
}

// Opens a TCP socket to 10.77.0.2:8080 from a thread moved into a network namespace of its own,
// after `setUp` (shell commands, or null) prepared it; the namespace goes away with the thread.
// The open's code and the descriptors it left, or nothing when the namespace could not be made.
struct IsolatedOpen {
    int code = 0;
    int leaked = 0;
};
std::optional<IsolatedOpen> openTcpInOwnNamespace(const char* setUp) {
    std::optional<IsolatedOpen> result;
    std::thread probe([&] {
        if (unshare(CLONE_NEWNET) != 0 || (setUp != nullptr && std::system(setUp) != 0)) {
            return;
        }
        NetManager manager(address("0.0.0.0"), address("10.77.0.2"), nullptr);
        auto connection = manager.createConnection();
        const int descriptors = openDescriptorCount();
        int socket = -1;
        const int code = connection->open(NetManager::kSocketTcp, 8080, socket);
        result = IsolatedOpen{code, openDescriptorCount() - descriptors};
    });
    probe.join();
    return result;
}

TEST(NetManagerOpen, ConnectTheSystemRefusesAtOnceGives3004AndClosesTheSocket) {
    // A fresh network namespace has no route at all (not even loopback is up), so the system
    // refuses the connect itself; such a socket would still poll writable with no pending error.
    const std::optional<IsolatedOpen> open = openTcpInOwnNamespace(nullptr);
    if (!open) {
        GTEST_SKIP() << "needs CAP_NET_ADMIN for a private network namespace";
    }
    EXPECT_EQ(open->code, kNetConnectFailed);
    EXPECT_EQ(open->leaked, 0);
}

TEST(NetManagerOpen, UnansweredConnectGives3005AfterTheConnectWait) {
    // The connect needs somewhere that swallows the SYN: 10.77.0.2 is routed over loopback but
    // is nobody's address, so the SYN is dropped on arrival.
    const std::optional<IsolatedOpen> open =
        openTcpInOwnNamespace("ip link set lo up && ip addr add 10.77.0.1/32 dev lo && "
                              "ip route add 10.77.0.2/32 dev lo src 10.77.0.1");
    if (!open) {
        GTEST_SKIP() << "needs CAP_NET_ADMIN and the ip tool for a private network namespace";
    }
    EXPECT_EQ(open->code, kNetConnectTimeout);
    EXPECT_EQ(open->leaked, 0);
}

// In a child process that has given up root, opens a UDP socket for a device; the exit status
// is the verdict, so a process exit from inside the manager shows up as a failure. Without
// threads the open must fail with -3016 and leave no descriptor; otherwise the poll thread runs
// although its priority cannot be raised.
void openUnprivileged(bool withoutThreads) {
    const rlimit none{0, 0};
    if ((withoutThreads && setrlimit(RLIMIT_NPROC, &none) != 0) ||
        setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) {
        std::_Exit(3);
    }
    UdpPeer device;
    NetManager manager(address("0.0.0.0"), address("127.0.0.1"), nullptr);
    auto connection = manager.createConnection();
    const int descriptors = openDescriptorCount();
    int socket = -1;
    const int code = connection->open(NetManager::kSocketUdp, device.port(), socket);
    const bool passed =
        withoutThreads
            ? code == kNetNoResource && socket == -1 && openDescriptorCount() == descriptors
            : code == 0 && relay(device, *connection, socket, bytesOf("hi")) != nullptr;
    manager.shutdown();
    std::_Exit(passed ? 0 : 2);
}

// In a child: poll refuses more handles than the descriptor limit allows, which makes every
// poll of two sockets fail. The exit status is the verdict.
void pollFailing() {
    ErrorLog errors;
    UdpPeer device;
    auto manager = makeManager(errors);
    auto connection = manager->createConnection();
    const int first = openUdp(*connection, device);
    const int second = openUdp(*connection, device);
    const rlimit one{1, 1};
    if (first < 0 || second < 0 || setrlimit(RLIMIT_NOFILE, &one) != 0) {
        std::_Exit(3);
    }
    const auto expected = std::make_pair(std::min(first, second), int{kNetPollFailed});
    const bool reported = waitFor([&] {
        const ErrorLog::Entries entries = errors.entries();
        return !entries.empty() && entries.front() == expected;
    });
    std::_Exit(reported ? 0 : 2);
}

TEST(NetManagerPoll, FailedPollReports3012WithTheFirstHandle) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(pollFailing(), ::testing::ExitedWithCode(0), "");
}

TEST(NetManagerUnprivileged, PollThreadPriorityAndStartFailures) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to drop privileges in a child";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(openUnprivileged(false), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(openUnprivileged(true), ::testing::ExitedWithCode(0), "");
}

} // namespace
