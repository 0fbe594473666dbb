#include "tests/support/private_network.h"

#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace testnet {

namespace {
bool privateNetwork = false;

bool bringUpLoopback() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up;
}
} // namespace

bool enterPrivateNetwork() {
    // Before any thread starts: a namespace entered later would hold only the calling thread.
    privateNetwork = ::unshare(CLONE_NEWNET) == 0 && bringUpLoopback();
    return privateNetwork;
}

bool havePrivateNetwork() {
    return privateNetwork;
}

} // namespace testnet

int main(int argc, char** argv) {
    testnet::enterPrivateNetwork();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
