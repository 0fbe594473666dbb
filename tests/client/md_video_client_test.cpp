#include <future>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "client/md_video_client.h"
#include "client/stream_stats_collector.h"
#include "tests/client/test_support.h"

namespace client_test {
namespace {

const sockaddr_storage deviceAddress{.ss_family = AF_INET};

class MdVideoClientTest : public ::testing::Test {
protected:
    // Most cases want no module-wide collector; those that do install their own.
    void SetUp() override { StreamStatsCollector::destroyCurrent(); }
    void TearDown() override { StreamStatsCollector::destroyCurrent(); }
    bool isIdle() const { return client.clientState() == MdVideoClient::Idle; }

    RecordingListener listener;
    FakeClient client{&listener};
};

TEST_F(MdVideoClientTest, DisconnectTakesTheConnectionDownOnceAndResetsTelemetry) {
    EXPECT_TRUE(client.disconnect()); // never connected
    EXPECT_EQ(client.startStreamingIfConnected(), -1);
    EXPECT_EQ(client.stopStreamingIfConnected(), -1);
    ASSERT_EQ(client.connect(deviceAddress), MdvErrorNone);
    EXPECT_TRUE(client.isConnected());
    EXPECT_EQ(client.startStreamingIfConnected(), 11);
    EXPECT_EQ(client.stopStreamingIfConnected(), 12);
    client.updateTelemetry([](MdvTelemetry& t) {
        t.statusByte2 = 7;
        t.sdSpace = 42;
    });
    client.notifyTelemetry();
    EXPECT_TRUE(client.isTelemetryValid());

    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_TRUE(client.disconnect());
        EXPECT_TRUE(isIdle());
        EXPECT_EQ(client.disconnectCalls, 1);
        EXPECT_EQ(listener.disconnectedCalls, 1);
    }
    EXPECT_FALSE(client.isTelemetryValid());
    EXPECT_EQ(client.telemetrySnapshot().statusByte2, 100u);
    EXPECT_EQ(client.telemetrySnapshot().sdSpace, 0);
    EXPECT_EQ(client.stopStreamingIfConnected(), -1);
}

TEST_F(MdVideoClientTest, BusyWhileStoppingThenReconnectsAndCollectsFinishedWorkers) {
    std::promise<void> teardown;
    client.onTeardown = [gate = teardown.get_future().share()] { gate.wait_for(generousBound); };
    ASSERT_EQ(client.connect(deviceAddress), MdvErrorNone);

    // A keep-alive failure on an implementation thread.
    std::thread([&] { client.requestStop(); }).join();
    ASSERT_TRUE(waitUntil([&] { return client.disconnectCalls == 1; }));
    EXPECT_EQ(client.clientState(), MdVideoClient::Stopping);
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(client.connect(deviceAddress), MdvErrorBusy);
    EXPECT_EQ(client.startStreamingIfConnected(), -1);
    EXPECT_EQ(client.connectCalls, 1);

    teardown.set_value();
    ASSERT_TRUE(waitUntil([&] { return isIdle(); }));
    EXPECT_EQ(listener.disconnectedCalls, 1);
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

TEST_F(MdVideoClientTest, FramesReachTheListenerUnchangedAndStatisticsEndWithTheConnection) {
    const std::vector<uint8_t> unit{0, 0, 0, 1, 0x65, 0x88, 0x84};
    client.deliverFrame(0, 1234567890123, unit); // no collector

    ASSERT_TRUE(StreamStatsCollector::replaceCurrent(std::chrono::milliseconds(2)));
    ASSERT_EQ(client.connect(deviceAddress), MdvErrorNone); // attaches our listener
    client.deliverFrame(1, -5, unit);
    ASSERT_TRUE(listener.waitForReports([&](const Reports& reports) {
        uint32_t delivered = 0;
        for (const auto& report : reports) {
            delivered += report.words[6];
        }
        return delivered == unit.size();
    }));
    EXPECT_TRUE(client.disconnect());
    const size_t reportsAtEnd = listener.reportsCopy().size();
    {
        std::lock_guard lock(listener.mutex);
        EXPECT_EQ(listener.frames,
                  (std::vector<RecordingListener::Frame>{{0, 1234567890123, unit}, {1, -5, unit}}));
    }
    // Another listener attached afterwards keeps receiving; ours does not.
    RecordingListener other;
    StreamStatsCollector::current()->attachListener(&other);
    ASSERT_TRUE(other.waitForReports(3));
    EXPECT_EQ(listener.reportsCopy().size(), reportsAtEnd);
    StreamStatsCollector::current()->attachListener(nullptr);
}

TEST_F(MdVideoClientTest, ListenerSeesOnlyWholeTelemetryRecords) {
    std::atomic<int> torn{0};
    listener.onTelemetryHook = [&](const MdvTelemetry& t) {
        const auto v = t.sdSpace;
        if (t.sdTotal != v || t.trailerInt0 != v || t.trailerSigned1 != v ||
            t.trailerWord != static_cast<uint32_t>(v) ||
            t.statusByte1 != static_cast<uint32_t>(v)) {
            ++torn;
        }
    };
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int32_t i = 1; i <= 20000; ++i) {
            client.updateTelemetry([i](MdvTelemetry& t) {
                t.sdSpace = t.sdTotal = t.trailerInt0 = t.trailerSigned1 = i;
                t.trailerWord = t.statusByte1 = static_cast<uint32_t>(i);
            });
        }
        writing = false;
    });
    while (writing) {
        client.notifyTelemetry();
    }
    writer.join();
    client.notifyTelemetry();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(listener.telemetryCalls, 0);
    EXPECT_EQ(client.telemetrySnapshot().trailerWord, 20000u);
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
    EXPECT_EQ(client.connect(deviceAddress), MdvErrorNone);
    client.onTeardown = nullptr;
    listener.onDisconnectedHook = nullptr;
}

} // namespace
} // namespace client_test
