#include <future>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "client/md_video_client.h"
#include "client/stream_stats_collector.h"
#include "tests/client/test_support.h"
#include "tests/support/bounded_wait.h"

namespace client_test {
namespace {

const sockaddr_storage deviceAddress{.ss_family = AF_INET};

class MdVideoClientTest : public ::testing::Test {
protected:
    // The cases that want a module-wide collector install their own.
    void TearDown() override { StreamStatsCollector::destroyCurrent(); }
    bool isIdle() const { return client.clientState() == MdVideoClient::Idle; }

    RecordingListener listener;
    FakeClient client{&listener};
};

TEST_F(MdVideoClientTest, BusyWhileStoppingThenReconnectsAndCollectsFinishedWorkers) {
    std::promise<void> teardown;
    client.onTeardown = [gate = teardown.get_future().share()] { gate.wait_for(generousBound); };
    EXPECT_TRUE(client.disconnect()); // never connected: nothing to take down
    EXPECT_EQ(client.startStreamingIfConnected(), -1);
    ASSERT_EQ(client.connect(deviceAddress), MdvErrorNone);
    EXPECT_EQ(client.startStreamingIfConnected(), 11);
    EXPECT_EQ(client.stopStreamingIfConnected(), 12);
    client.updateTelemetry([](MdvTelemetry& t) { t.statusByte2 = t.sdSpace = 7; });
    client.notifyTelemetry();
    EXPECT_TRUE(client.isTelemetryValid());

    // A keep-alive failure on an implementation thread.
    std::thread([&] { client.requestStop(); }).join();
    ASSERT_TRUE(waitUntil([&] { return client.disconnectCalls == 1; }));
    EXPECT_EQ(client.clientState(), MdVideoClient::Stopping);
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(client.connect(deviceAddress), MdvErrorBusy);
    EXPECT_EQ(client.stopStreamingIfConnected(), -1);
    EXPECT_EQ(client.connectCalls, 1);

    teardown.set_value();
    ASSERT_TRUE(waitUntil([&] { return isIdle(); }));
    EXPECT_EQ(listener.disconnectedCalls, 1);
    EXPECT_FALSE(client.isTelemetryValid());
    EXPECT_EQ(client.telemetrySnapshot().statusByte2, 100u);
    EXPECT_EQ(client.telemetrySnapshot().sdSpace, 0);
    // connect joins the finished worker first, and so does disconnect of an idle client.
    EXPECT_EQ(client.connect(deviceAddress), MdvErrorNone);
    client.requestStop();
    ASSERT_TRUE(waitUntil([&] { return isIdle(); }));
    EXPECT_TRUE(client.disconnect());
    EXPECT_EQ(client.disconnectCalls, 2);
    EXPECT_EQ(listener.disconnectedCalls, 2);
    client.requestStop(); // after the end, changes nothing
    EXPECT_TRUE(isIdle());
}

TEST_F(MdVideoClientTest, DestroyingAConnectedClientTakesItDownFirst) {
    std::atomic<int> teardowns{0};
    auto doomed = std::make_unique<FakeClient>(&listener);
    doomed->onTeardown = [&] { ++teardowns; };
    ASSERT_EQ(doomed->connect(deviceAddress), MdvErrorNone);
    doomed.reset();
    EXPECT_EQ(teardowns, 1);
    EXPECT_EQ(listener.disconnectedCalls, 1);
}

TEST_F(MdVideoClientTest, BaseDestructorEndsAConnectionTheImplementationLeftUp) {
    std::atomic<int> teardowns{0};
    auto careless = std::make_unique<FakeClient>(&listener, false);
    careless->teardownCount = &teardowns;
    ASSERT_EQ(careless->connect(deviceAddress), MdvErrorNone);
    bounded::run([&] { careless.reset(); }, "destroying a connected client");
    EXPECT_EQ(listener.disconnectedCalls, 1);
    EXPECT_EQ(teardowns, 0) << "the implementation's part was gone; it must not be called";
}

TEST_F(MdVideoClientTest, ConnectThatThrowsIsReportedAsFailedAndTakenDown) {
    client.onConnect = [] { throw std::runtime_error("connect failure"); };
    EXPECT_EQ(client.connect(deviceAddress), MdvErrorFailed);
    EXPECT_TRUE(isIdle());
    EXPECT_EQ(client.disconnectCalls, 1);

    client.onConnect = nullptr;
    client.connectResult = MdvErrorNoReply;
    client.onTeardown = [] { throw std::runtime_error("teardown failure"); };
    EXPECT_EQ(client.connect(deviceAddress), MdvErrorNoReply);
    EXPECT_TRUE(isIdle());
    client.onTeardown = nullptr;
    client.connectResult = MdvErrorNone;
    EXPECT_EQ(client.connect(deviceAddress), MdvErrorNone);
}

TEST_F(MdVideoClientTest, FailedConnectIsCleanedUpAndLeavesTheClientIdle) {
    for (const int32_t failure :
         {int32_t{MdvErrorNoReply}, int32_t{-3005}, int32_t{MdvErrorFailed}}) {
        client.connectResult = failure;
        EXPECT_EQ(client.connect(deviceAddress), failure);
        EXPECT_TRUE(isIdle());
    }
    EXPECT_EQ(client.disconnectCalls, 3);
    EXPECT_EQ(listener.disconnectedCalls, 0); // no connection, no worker
    client.connectResult = MdvErrorNone;
    EXPECT_EQ(client.connect(deviceAddress), MdvErrorNone);
}

// A connection's own thread can find it dead while the connect is still running (a failed
// heartbeat, a socket error); that stop must not be lost, nor outlive its connect.
TEST_F(MdVideoClientTest, StopRequestedDuringTheConnectFailsItAndOnlyIt) {
    client.requestStop(); // before any connect: nothing to stop, nothing kept
    client.onConnect = [this] { client.requestStop(); };
    EXPECT_EQ(client.connect(deviceAddress), MdvErrorFailed);
    EXPECT_TRUE(isIdle());
    EXPECT_EQ(client.disconnectCalls, 1);
    EXPECT_EQ(listener.disconnectedCalls, 0);

    client.onConnect = nullptr;
    EXPECT_EQ(client.connect(deviceAddress), MdvErrorNone);
    EXPECT_TRUE(client.isConnected());
    client.requestStop(); // once connected, the worker takes the connection down
    EXPECT_TRUE(waitUntil([&] { return listener.disconnectedCalls == 1 && isIdle(); }));
    EXPECT_EQ(client.disconnectCalls, 2);
}

TEST_F(MdVideoClientTest, FramesReachTheListenerUnchangedAndStatisticsEndWithTheConnection) {
    const std::vector<uint8_t> unit{0, 0, 0, 1, 0x65, 0x88, 0x84};
    client.deliverFrame(0, 1234567890123, unit); // no collector

    ASSERT_TRUE(StreamStatsCollector::replaceCurrent(std::chrono::milliseconds(2)));
    ASSERT_EQ(client.connect(deviceAddress), MdvErrorNone); // attaches our listener
    client.deliverFrame(1, -5, unit);
    ASSERT_TRUE(listener.waitForReports(
        [&](const Reports& reports) { return sumOfWord(reports, 6) == unit.size(); }));
    EXPECT_TRUE(client.disconnect());
    const size_t reportsAtEnd = listener.reportsCopy().size();
    // Delivered on this thread, so read without the lock.
    EXPECT_EQ(listener.frames,
              (std::vector<RecordingListener::Frame>{{0, 1234567890123, unit}, {1, -5, unit}}));
    // Another listener attached afterwards keeps receiving; ours does not.
    RecordingListener other;
    StreamStatsCollector::current()->attachListener(&other);
    ASSERT_TRUE(other.waitForReports(3));
    EXPECT_EQ(listener.reportsCopy().size(), reportsAtEnd);
    StreamStatsCollector::current()->attachListener(nullptr);
}

TEST_F(MdVideoClientTest, EndingOneConnectionLeavesAnotherClientsListenerAttached) {
    ASSERT_TRUE(StreamStatsCollector::replaceCurrent(std::chrono::milliseconds(2)));
    RecordingListener otherListener;
    FakeClient other(&otherListener);
    ASSERT_EQ(client.connect(deviceAddress), MdvErrorNone);
    ASSERT_EQ(other.connect(deviceAddress), MdvErrorNone); // its listener replaces ours
    EXPECT_TRUE(client.disconnect());
    const size_t seen = otherListener.reportsCopy().size();
    EXPECT_TRUE(otherListener.waitForReports(seen + 3));
    EXPECT_TRUE(other.disconnect());
}

TEST_F(MdVideoClientTest, ListenerSeesOnlyWholeTelemetryRecords) {
    std::atomic<int> seen{0};
    std::atomic<int> torn{0};
    listener.onTelemetryHook = [&](const MdvTelemetry& t) {
        ++seen;
        torn += t.statusByte1 != static_cast<uint32_t>(t.sdSpace) || t.trailerWord != t.statusByte1;
    };
    // Writes go on until they have overlapped many notifications.
    std::atomic<uint32_t> last{0};
    std::thread writer([&] {
        for (int32_t i = 1; i <= 20000 || seen < 200; ++i) {
            client.updateTelemetry([i](MdvTelemetry& t) {
                t.sdSpace = i;
                t.statusByte1 = t.trailerWord = static_cast<uint32_t>(i);
            });
            last = static_cast<uint32_t>(i);
        }
    });
    while (last < 20000 || seen < 200) {
        client.notifyTelemetry();
    }
    writer.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(client.telemetrySnapshot().trailerWord, last);
}

TEST_F(MdVideoClientTest, ThrowingTeardownAndReentrantThrowingListenerStillEndIdle) {
    std::atomic<int> returned{0};
    client.onTeardown = [] { throw std::runtime_error("teardown failure"); };
    listener.onDisconnectedHook = [&] {
        client.disconnect(); // while the owner waits in disconnect holding its lock
        ++returned;
        throw std::runtime_error("listener failure");
    };
    ASSERT_EQ(client.connect(deviceAddress), MdvErrorNone);
    EXPECT_TRUE(client.disconnect());
    EXPECT_EQ(returned, 1);

    // The same after a stop requested by an implementation thread.
    ASSERT_EQ(client.connect(deviceAddress), MdvErrorNone);
    client.requestStop();
    ASSERT_TRUE(waitUntil([&] { return isIdle(); }));
    EXPECT_EQ(returned, 2);
    EXPECT_EQ(listener.disconnectedCalls, 2);
    listener.onDisconnectedHook = [] {};
    EXPECT_EQ(client.connect(deviceAddress), MdvErrorNone);
}

} // namespace
} // namespace client_test
