// A device client whose connect and disconnect are scripted by the test.
#pragma once

#include <atomic>

#include "client/md_video_client.h"
#include "tests/client/test_support.h"

namespace client_test {

class FakeClient final : public MdVideoClient {
public:
    explicit FakeClient(MdVideoClientInterface* listener) : MdVideoClient(listener) {}
    // Takes the connection down while this object's disconnectImpl still exists.
    ~FakeClient() override { disconnect(); }

    bool isStreaming() override { return false; }
    bool setConfigWifi(const MdvConfigWifi&) override { return false; }
    bool getSsidList(std::vector<std::string>&) override { return false; }
    bool setCameraSettings(const CameraSettings&) override { return false; }
    bool setCarConfig(const CarConfig&) override { return false; }
    void acknowledgeError(uint8_t) override {}
    bool isFirmwareUpdateAvailable() override { return false; }
    int32_t updateFirmware(std::function<void(float)>) override { return -1; }
    std::vector<std::pair<std::string, std::string>> getFirmwareVersions() override { return {}; }
    bool sendWheelControl(float, float) override { return false; }
    int32_t startStreaming() override {
        ++startCalls;
        return 0;
    }
    int32_t stopStreaming() override {
        ++stopCalls;
        return 0;
    }

    // Script, set before connect.
    std::atomic<int32_t> connectResult{MdvErrorNone};
    Gate* disconnectGate = nullptr; // disconnectImpl waits here when set
    std::atomic<bool> throwFromDisconnect{false};
    std::atomic<int>* disconnectTally = nullptr; // outlives the client, when set

    // What happened.
    std::atomic<int> connectCalls{0};
    std::atomic<int> disconnectCalls{0};
    std::atomic<int> startCalls{0};
    std::atomic<int> stopCalls{0};

private:
    MdvError connectToDeviceImpl(const sockaddr_storage&) override {
        ++connectCalls;
        return static_cast<MdvError>(connectResult.load());
    }
    int32_t disconnectImpl() override {
        ++disconnectCalls;
        if (disconnectTally != nullptr) {
            ++*disconnectTally;
        }
        if (disconnectGate != nullptr) {
            disconnectGate->wait();
        }
        if (throwFromDisconnect) {
            throw std::runtime_error("teardown failure");
        }
        return 0;
    }
};

} // namespace client_test
