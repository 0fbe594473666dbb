// Every queued command completes exactly once, whether or not a command thread is there to run
// it, so nobody waits for ever on a command that will never run.
#include <future>

#include "tests/epsilon/epsilon_test_support.h"

namespace epsilon_test {
namespace {

// Records the completions of the commands it makes.
struct Completions {
    Access::Done make() {
        return [this](int status, json&) {
            std::lock_guard lock(mutex);
            statuses.push_back(status);
        };
    }
    std::vector<int> seen() {
        std::lock_guard lock(mutex);
        return statuses;
    }
    std::mutex mutex;
    std::vector<int> statuses; // guarded by mutex
};

} // namespace

TEST_F(EpsilonTest, WithoutAConnectionCommandsAreRefusedAndCompletedAtOnce) {
    // Before the first connect, then after a connection ended.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Completions completions;
        EXPECT_FALSE(Access::queue(*client, "get_ssid_list", completions.make()));
        ASSERT_EQ(completions.seen(), std::vector<int>{-1}); // on this thread, before returning
        EXPECT_FALSE(Access::queue(*client, "get_ssid_list", nullptr));
        int status = 0;
        EXPECT_FALSE(Access::send(*client, "get_ssid_list", status));
        EXPECT_EQ(status, -1);
        Access::requestKeyFrame(*client);

        ASSERT_EQ(connect(), MdvErrorNone);
        client->disconnect();
    }
    EXPECT_TRUE(car->requests("get_ssid_list").empty());
}

TEST_F(EpsilonTest, DisconnectCompletesTheCommandInFlightAndEveryQueuedOneWithFailure) {
    car->on("get_ssid_list", nullptr);
    ASSERT_EQ(connect(), MdvErrorNone);
    Completions completions;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Access::queue(*client, "get_ssid_list", completions.make()));
    }
    ASSERT_TRUE(car->waitForHandled("get_ssid_list", 1)); // the first one waits for its answer
    client->disconnect();
    EXPECT_EQ(completions.seen(), (std::vector<int>{-1, -1, -1}));
}

// Disconnect lets the command thread go before it joins the media thread. A key-frame request
// the media thread makes in between must still come back, or that join never ends.
TEST_F(EpsilonTest, CommandThreadThatHasLeftLeavesTheQueueClosed) {
    ASSERT_EQ(connect(), MdvErrorNone);
    ASSERT_TRUE(threadNamed("zoderiv-command"));
    Access::stopRunning(*client);
    Completions completions;
    ASSERT_TRUE(Access::queue(*client, "get_ssid_list", completions.make()));
    ASSERT_TRUE(nettest::waitFor([&] { return !threadNamed("zoderiv-command"); }));
    EXPECT_EQ(completions.seen(), std::vector<int>{0});

    EXPECT_FALSE(Access::queue(*client, "get_ssid_list", completions.make()));
    EXPECT_EQ(completions.seen(), (std::vector<int>{0, -1}));
    auto keyFrame = std::async(std::launch::async, [&] { Access::requestKeyFrame(*client); });
    EXPECT_EQ(keyFrame.wait_for(10s), std::future_status::ready);
    client->disconnect(); // releases a request the queue failed to refuse, so the test can end
}

TEST_F(EpsilonTest, CommandWithoutCompletionRunsAndTheNextOneStillCompletes) {
    ASSERT_EQ(connect(), MdvErrorNone);
    ASSERT_TRUE(Access::queue(*client, "get_ssid_list", nullptr));
    int status = -5;
    EXPECT_TRUE(Access::send(*client, "get_ssid_list", status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(car->requests("get_ssid_list").size(), 2u);
}

} // namespace epsilon_test
