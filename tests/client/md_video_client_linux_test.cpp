// What only Linux can set up for the device client: a process that may start no thread.
#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "client/md_video_client.h"
#include "tests/client/test_support.h"

namespace client_test {
namespace {

const sockaddr_storage deviceAddress{.ss_family = AF_INET};

// In a child that has given up root and may start no thread: the worker cannot start, so the
// connect must fail and be taken down completely. The exit status is the verdict.
void connectWithoutThreads() {
    RecordingListener listener;
    FakeClient client(&listener);
    const rlimit none{0, 0};
    if (setrlimit(RLIMIT_NPROC, &none) != 0 || setresgid(65534, 65534, 65534) != 0 ||
        setresuid(65534, 65534, 65534) != 0) {
        std::_Exit(3);
    }
    const bool failedCleanly = client.connect(deviceAddress) == MdvErrorFailed &&
                               client.clientState() == MdVideoClient::Idle &&
                               client.disconnectCalls == 1;
    // Not left half made: the next attempt is not refused as busy.
    const bool retried = client.connect(deviceAddress) == MdvErrorFailed;
    std::_Exit(failedCleanly && retried ? 0 : 2);
}

TEST(MdVideoClientLinux, WorkerThatCannotStartLeavesTheClientIdleAndTakenDown) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to drop privileges in a child";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(connectWithoutThreads(), ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace client_test
