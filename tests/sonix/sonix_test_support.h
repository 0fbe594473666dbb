// What the Sonix client tests share: a recording listener, the probe into the client's channel
// and keep-alive, and a fixture with a fake car and a client connected to it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "sonix/md_video_client_sonix.h"
#include "tests/net/net_test_support.h"
#include "tests/sonix/fake_car.h"

// The tests' window on the client's private parts. Named by the client as its friend.
class SonixClientProbe {
public:
    using Status = MdVideoClientSonix::JsonRespStatus;

    explicit SonixClientProbe(MdVideoClientSonix& client) : client(client) {}

    bool send(const nlohmann::json& request, Status& status, nlohmann::json& response) {
        return client.sendJsonCommand(request, status, response);
    }
    bool queue(const nlohmann::json& request, MdVideoClientSonix::JsonCallback callback) {
        return client.queueJsonCommand(request, std::move(callback));
    }
    bool commandsWaiting() const { return !client.commandQueue.empty(); }
    void applyDeviceFlags(uint8_t flags) { client.applyDeviceFlags(flags); }
    bool sdRefreshRunning() const { return client.sdRefreshRunning; }
    // As disconnect's first step does, without the rest of it.
    void clearRunning() { client.running = false; }
    // A datagram sent to the wheel socket lands in this connection's queue: the poll thread
    // has then delivered everything it read before.
    std::shared_ptr<NetManager::NetConnection> wheelConnection() {
        return client.wheelLink().connection;
    }
    uint16_t mediaPort() {
        std::lock_guard lock(client.linkMutex);
        return client.mediaConnection ? client.mediaConnection->localPort(client.mediaSocket) : 0;
    }
    uint16_t wheelPort() {
        const auto link = client.wheelLink();
        return link.connection ? link.connection->localPort(link.socket) : 0;
    }
    void shortenFirmwareTimes() {
        auto& t = client.firmwareTiming;
        t.mcuInstall = std::chrono::milliseconds(300);
        t.videoInstall = std::chrono::milliseconds(300);
        t.mcuOnlyAllowance = std::chrono::milliseconds(30);
        t.statusPoll = std::chrono::milliseconds(50);
        t.afterImageMs = 10;
        t.beforeVideoBoardMs = 10;
        t.progressStepMs = 5;
    }

private:
    MdVideoClientSonix& client;
};

namespace sonix_test {

using Clock = std::chrono::steady_clock;
using nettest::waitFor;

// Records what the client reports.
class Listener final : public MdVideoClientInterface {
public:
    void onDisconnected() override {
        disconnectedAt = Clock::now();
        ++disconnects;
    }
    void onTelemetry(const MdvTelemetry& telemetry) override {
        std::lock_guard lock(mutex);
        last = telemetry;
        ++telemetries;
    }
    void onVideoFrame(int32_t, int64_t, const std::vector<uint8_t>&) override {}
    bool onStatistics(const MdvStreamStats&) override { return false; }

    MdvTelemetry lastTelemetry() {
        std::lock_guard lock(mutex);
        return last;
    }

    std::atomic<int> disconnects{0};
    std::atomic<int> telemetries{0};
    std::atomic<Clock::time_point> disconnectedAt{};

private:
    std::mutex mutex;
    MdvTelemetry last; // guarded by mutex
};

inline sockaddr_storage loopbackCar() {
    return nettest::address("127.0.0.1");
}

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A fake car in the test's own namespace and a client for it, not yet connected.
class FakeCarTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(car.listening()); }
    MdvError connect() { return client->connect(loopbackCar()); }
    void connectOrFail() { ASSERT_EQ(connect(), MdvErrorNone); }

    // Writes `bytes` to the client and waits until its poll thread has queued them on the
    // control connection (an answer nobody asked for).
    void deliverUnasked(const std::string& bytes) {
        ASSERT_TRUE(car.sendUnasked(bytes));
        // The poll thread has read them; it handles the wheel datagram in a later pass, after
        // that read's delivery.
        nettest::UdpPeer marker;
        ASSERT_TRUE(marker.sendTo(probe.wheelPort(), nettest::bytesOf("mark")));
        std::unique_ptr<NetManager::NetPacket> packet;
        ASSERT_TRUE(probe.wheelConnection()->receive(packet, 10000));
    }

    FakeCar car;
    Listener listener;
    std::unique_ptr<MdVideoClientSonix> client = std::make_unique<MdVideoClientSonix>(&listener);
    SonixClientProbe probe{*client};
};

} // namespace sonix_test
