#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "client/md_video_client.h"
#include "client/stream_stats_collector.h"
#include "tests/client/fake_client.h"
#include "tests/client/test_support.h"

namespace client_test {
namespace {

sockaddr_storage deviceAddress() {
    sockaddr_storage address{};
    address.ss_family = AF_INET;
    return address;
}

bool isIdle(const MdVideoClient& client) {
    return client.clientState() == MdVideoClient::Idle;
}

class MdVideoClientTest : public ::testing::Test {
protected:
    // Most cases want no module-wide collector; those that do install their own.
    void SetUp() override { StreamStatsCollector::destroyCurrent(); }
    void TearDown() override { StreamStatsCollector::destroyCurrent(); }

    RecordingListener listener;
};

TEST_F(MdVideoClientTest, DisconnectTakesTheConnectionDownOnceAndResetsTelemetry) {
    FakeClient client(&listener);
    ASSERT_EQ(client.connect(deviceAddress()), MdvErrorNone);
    EXPECT_TRUE(client.isConnected());
    client.updateTelemetry([](MdvTelemetry& t) {
        t.statusByte2 = 7;
        t.sdSpace = 42;
    });
    client.notifyTelemetry();
    EXPECT_TRUE(client.isTelemetryValid());

    EXPECT_TRUE(client.disconnect());
    EXPECT_TRUE(isIdle(client));
    EXPECT_EQ(client.disconnectCalls, 1);
    EXPECT_EQ(listener.disconnectedCalls, 1);
    EXPECT_FALSE(client.isTelemetryValid());
    EXPECT_EQ(client.telemetrySnapshot().statusByte2, 100u);
    EXPECT_EQ(client.telemetrySnapshot().sdSpace, 0);

    // Nothing left to take down.
    EXPECT_TRUE(client.disconnect());
    EXPECT_EQ(client.disconnectCalls, 1);
    EXPECT_EQ(listener.disconnectedCalls, 1);
}

TEST_F(MdVideoClientTest, ConnectIsBusyWhileStoppingAndSucceedsOnceTheWorkerHasFinished) {
    Gate teardown;
    FakeClient client(&listener);
    client.disconnectGate = &teardown;
    ASSERT_EQ(client.connect(deviceAddress()), MdvErrorNone);

    // A keep-alive failure on an implementation thread.
    std::thread([&] { client.requestStop(); }).join();
    ASSERT_TRUE(waitUntil([&] { return client.disconnectCalls == 1; }));
    EXPECT_EQ(client.clientState(), MdVideoClient::Stopping);
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(client.connect(deviceAddress()), MdvErrorBusy);
    EXPECT_EQ(client.connectCalls, 1);

    teardown.open();
    ASSERT_TRUE(waitUntil([&] { return isIdle(client); }));
    EXPECT_EQ(listener.disconnectedCalls, 1);
    EXPECT_EQ(client.connect(deviceAddress()), MdvErrorNone);
    EXPECT_EQ(client.connectCalls, 2);
    EXPECT_TRUE(client.disconnect());
    EXPECT_EQ(client.disconnectCalls, 2);
}

TEST_F(MdVideoClientTest, DisconnectOfAnIdleClientCollectsTheFinishedWorker) {
    FakeClient client(&listener);
    EXPECT_TRUE(client.disconnect()); // never connected
    EXPECT_EQ(client.disconnectCalls, 0);

    ASSERT_EQ(client.connect(deviceAddress()), MdvErrorNone);
    client.requestStop();
    ASSERT_TRUE(waitUntil([&] { return isIdle(client); }));
    EXPECT_TRUE(client.disconnect());
    EXPECT_EQ(client.disconnectCalls, 1);
    EXPECT_EQ(listener.disconnectedCalls, 1);
    // A second stop request after the end changes nothing.
    client.requestStop();
    EXPECT_TRUE(isIdle(client));
}

TEST_F(MdVideoClientTest, DestroyingAConnectedClientTakesItDownFirst) {
    std::atomic<int> teardowns{0};
    auto client = std::make_unique<FakeClient>(&listener);
    client->disconnectTally = &teardowns;
    ASSERT_EQ(client->connect(deviceAddress()), MdvErrorNone);
    client.reset();
    EXPECT_EQ(teardowns, 1);
    EXPECT_EQ(listener.disconnectedCalls, 1);
}

TEST_F(MdVideoClientTest, FailedConnectIsCleanedUpAndLeavesTheClientIdle) {
    FakeClient client(&listener);
    for (const int32_t failure :
         {int32_t{MdvErrorNoReply}, int32_t{-3005}, int32_t{MdvErrorFailed}}) {
        client.connectResult = failure;
        EXPECT_EQ(client.connect(deviceAddress()), failure);
        EXPECT_TRUE(isIdle(client));
    }
    EXPECT_EQ(client.disconnectCalls, 3);
    EXPECT_EQ(listener.disconnectedCalls, 0); // no connection, no worker

    client.connectResult = MdvErrorNone;
    EXPECT_EQ(client.connect(deviceAddress()), MdvErrorNone);
}

TEST_F(MdVideoClientTest, StreamingNeedsAConnection) {
    Gate teardown;
    FakeClient client(&listener);
    EXPECT_EQ(client.startStreamingIfConnected(), -1);
    EXPECT_EQ(client.stopStreamingIfConnected(), -1);

    ASSERT_EQ(client.connect(deviceAddress()), MdvErrorNone);
    EXPECT_EQ(client.startStreamingIfConnected(), 0);
    EXPECT_EQ(client.stopStreamingIfConnected(), 0);

    client.disconnectGate = &teardown;
    client.requestStop();
    ASSERT_TRUE(waitUntil([&] { return client.disconnectCalls == 1; }));
    EXPECT_EQ(client.startStreamingIfConnected(), -1); // Stopping
    teardown.open();
    EXPECT_TRUE(client.disconnect());
    EXPECT_EQ(client.startStreamingIfConnected(), -1);
    EXPECT_EQ(client.startCalls, 1);
    EXPECT_EQ(client.stopCalls, 1);
}

TEST_F(MdVideoClientTest, FramesReachTheListenerUnchangedWithOrWithoutACollector) {
    FakeClient client(&listener);
    const std::vector<uint8_t> unit{0, 0, 0, 1, 0x65, 0x88, 0x84};
    client.deliverFrame(0, 1234567890123, unit); // no collector

    ASSERT_TRUE(StreamStatsCollector::replaceCurrent(std::chrono::milliseconds(2)));
    ASSERT_EQ(client.connect(deviceAddress()), MdvErrorNone); // attaches our listener
    client.deliverFrame(1, -5, unit);
    ASSERT_TRUE(listener.waitForReports([&](const std::vector<MdvStreamStats>& reports) {
        uint32_t delivered = 0;
        for (const auto& report : reports) {
            delivered += report.words[6];
        }
        return delivered == unit.size();
    }));
    EXPECT_TRUE(client.disconnect());

    std::lock_guard lock(listener.mutex);
    ASSERT_EQ(listener.frames.size(), 2u);
    EXPECT_EQ(listener.frames[0].number, 0);
    EXPECT_EQ(listener.frames[0].timestamp, 1234567890123);
    EXPECT_EQ(listener.frames[0].data, unit);
    EXPECT_EQ(listener.frames[1].number, 1);
    EXPECT_EQ(listener.frames[1].timestamp, -5);
    EXPECT_EQ(listener.frames[1].data, unit);
}

TEST_F(MdVideoClientTest, EndOfConnectionStopsStatisticsToTheListener) {
    ASSERT_TRUE(StreamStatsCollector::replaceCurrent(std::chrono::milliseconds(1)));
    FakeClient client(&listener);
    ASSERT_EQ(client.connect(deviceAddress()), MdvErrorNone);
    ASSERT_TRUE(listener.waitForReports(1));
    EXPECT_TRUE(client.disconnect());
    const size_t reportsAtEnd = listener.reportCount();

    // Another listener attached afterwards keeps receiving; ours does not.
    RecordingListener other;
    StreamStatsCollector::current()->attachListener(&other);
    ASSERT_TRUE(other.waitForReports(3));
    EXPECT_EQ(listener.reportCount(), reportsAtEnd);
    StreamStatsCollector::current()->attachListener(nullptr);
}

TEST_F(MdVideoClientTest, ListenerSeesOnlyWholeTelemetryRecords) {
    FakeClient client(&listener);
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
                t.sdSpace = i;
                t.sdTotal = i;
                t.trailerInt0 = i;
                t.trailerSigned1 = i;
                t.trailerWord = static_cast<uint32_t>(i);
                t.statusByte1 = static_cast<uint32_t>(i);
            });
        }
        writing = false;
    });
    std::thread notifier([&] {
        while (writing) {
            client.notifyTelemetry();
        }
    });
    writer.join();
    notifier.join();
    client.notifyTelemetry();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(listener.telemetryCalls, 0);
    EXPECT_EQ(client.telemetrySnapshot().trailerWord, 20000u);
}

TEST_F(MdVideoClientTest, FailuresInTeardownAndListenerStillEndIdle) {
    FakeClient client(&listener);
    client.throwFromDisconnect = true;
    listener.onDisconnectedHook = [] { throw std::runtime_error("listener failure"); };
    ASSERT_EQ(client.connect(deviceAddress()), MdvErrorNone);
    client.requestStop();
    ASSERT_TRUE(waitUntil([&] { return isIdle(client); }));
    EXPECT_EQ(listener.disconnectedCalls, 1);

    client.throwFromDisconnect = false;
    EXPECT_EQ(client.connect(deviceAddress()), MdvErrorNone);
    EXPECT_TRUE(client.disconnect());
    EXPECT_EQ(client.disconnectCalls, 2);
}

TEST_F(MdVideoClientTest, DisconnectFromTheListenerOnTheWorkerDoesNotDeadlock) {
    FakeClient client(&listener);
    std::atomic<bool> returned{false};
    listener.onDisconnectedHook = [&] {
        client.disconnect();
        returned = true;
    };
    // The owner is waiting in disconnect (holding its lock) while the worker calls back.
    ASSERT_EQ(client.connect(deviceAddress()), MdvErrorNone);
    EXPECT_TRUE(client.disconnect());
    EXPECT_TRUE(returned);

    // The same after a stop requested by an implementation thread.
    returned = false;
    ASSERT_EQ(client.connect(deviceAddress()), MdvErrorNone);
    client.requestStop();
    ASSERT_TRUE(waitUntil([&] { return isIdle(client); }));
    EXPECT_TRUE(returned);
    EXPECT_EQ(client.connect(deviceAddress()), MdvErrorNone);
    listener.onDisconnectedHook = nullptr;
}

} // namespace
} // namespace client_test
