// The abstract device client shared by both device families, and the connection machinery every
// implementation inherits: a state machine (Idle, Connected, Stopping), a worker thread that
// takes a connection down when it ends, and the hand-over of frames and status blocks to the
// listener.
//
// Implementations MUST call disconnect() first thing in their destructors: the worker takes a
// connection down through disconnectImpl(), which cannot run once the implementation's part of
// the object is gone. Clients must not be destroyed from their own listener's callbacks.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "client/md_video_client_interface.h"
#include "client/mdv_error.h"
#include "client/mdv_records.h"
#include "net/platform/socket_platform.h"

class StreamStatsCollector;

class MdVideoClient {
public:
    using MdvConfigWifi = ::MdvConfigWifi;
    using CameraSettings = ::CameraSettings;
    using CarConfig = ::CarConfig;
    using MdvTelemetry = ::MdvTelemetry;

    enum ClientState : int32_t { Idle = 0, Connected = 1, Stopping = 2 };

    // The listener is not owned and must outlive the client.
    explicit MdVideoClient(MdVideoClientInterface* listener);
    MdVideoClient(const MdVideoClient&) = delete;
    MdVideoClient& operator=(const MdVideoClient&) = delete;

    // The virtual operations, in their fixed slot order (slot 0 is the destructor).
    virtual ~MdVideoClient();
    virtual bool isStreaming() = 0;
    virtual bool setConfigWifi(const MdvConfigWifi& config) = 0;
    virtual bool getSsidList(std::vector<std::string>& ssids) = 0;
    virtual bool setCameraSettings(const CameraSettings& settings) = 0;
    virtual bool setCarConfig(const CarConfig& config) = 0;
    virtual void acknowledgeError(uint8_t flag) = 0;
    virtual bool isFirmwareUpdateAvailable() = 0;
    // Blocking; reports progress from 0.0 to 1.0 on the calling thread. 0 on success, -1 or a
    // transfer failure code otherwise.
    virtual int32_t updateFirmware(std::function<void(float)> progress) = 0;
    // (component name, version text) pairs.
    virtual std::vector<std::pair<std::string, std::string>> getFirmwareVersions() = 0;
    // Both values in -1..1; true once the control packet has been handed to the network layer.
    virtual bool sendWheelControl(float first, float second) = 0;
    virtual int32_t startStreaming() = 0;
    virtual int32_t stopStreaming() = 0;

private:
    // Called only by connect(), with controlMutex held.
    virtual MdvError connectToDeviceImpl(const sockaddr_storage& address) = 0;

protected:
    // Called only by the base class: after a failed connectToDeviceImpl (on the caller of
    // connect) and when a connection ends (on the worker). The result is not looked at.
    virtual int32_t disconnectImpl() = 0;

public:
    // MdvErrorBusy unless Idle; otherwise the result of connectToDeviceImpl, or MdvErrorFailed
    // when it throws or the worker thread cannot be started (the connection is taken down
    // again).
    MdvError connect(const sockaddr_storage& address);
    // Ends the connection, if any, and waits until the worker has taken it down. Always true.
    // Called on the worker's own thread (from onDisconnected), it only requests the stop. It
    // must not be called on the implementation's threads that disconnectImpl joins (use
    // requestStop there).
    bool disconnect();
    bool isConnected() const;
    ClientState clientState() const { return state; }
    // For the implementations' own threads when they find the connection dead: the worker takes
    // it down. During a connect (from connectToDeviceImpl on, before Connected) the request is
    // kept and that connect fails. Never blocks beyond a short lock.
    void requestStop();
    // -1 unless Connected.
    int32_t startStreamingIfConnected();
    int32_t stopStreamingIfConnected();

    // Counts the access unit's bytes and hands it to the listener on the calling thread.
    void deliverFrame(int32_t frameNumber, int64_t timestamp,
                      const std::vector<uint8_t>& accessUnit);
    // Writers change the status block only through this, so readers never see half a change.
    void updateTelemetry(const std::function<void(MdvTelemetry&)>& change);
    MdvTelemetry telemetrySnapshot() const;
    bool isTelemetryValid() const { return telemetryValid; }
    // Marks the status block as changed and hands a consistent copy to the listener.
    void notifyTelemetry();

    MdvConfigWifi cachedWifiConfig() const;
    CameraSettings cachedCameraSettings() const;
    CarConfig cachedCarConfig() const;

private:
    void workerBody() noexcept;
    // disconnectImpl after a connect that failed; an exception from it ends there.
    void takeDownFailedConnect() noexcept;
    void setState(ClientState next);
    // Ends the connecting phase: Connected when `succeeded` and no stop was requested during it.
    bool finishConnecting(bool succeeded);
    // Connected -> Stopping, under stateMutex, with the worker woken.
    void stopIfConnected();
    bool onWorkerThread() const;
    void detachFromCollector() noexcept;

    std::thread worker;
    std::atomic<ClientState> state{Idle};
    // Set by the base destructor: the worker must not call disconnectImpl any more.
    std::atomic<bool> implementationGone{false};
    // Set by the worker while it runs, so disconnect() can tell when it is called on it.
    std::atomic<std::thread::id> workerId{};
    std::mutex stateMutex;
    std::condition_variable stateCond; // the worker waits here for state to leave Connected
    bool connecting = false;           // guarded by stateMutex
    bool stopWhileConnecting = false;  // guarded by stateMutex
    // Serialises connect, disconnect and destruction. The worker never takes it, so disconnect
    // can wait for the worker while holding it.
    std::mutex controlMutex;

protected:
    // Guards the cached settings below and the implementations' cached device settings.
    mutable std::mutex configMutex;

private:
    MdVideoClientInterface* const listener;
    // The collector this client's listener was attached to at connect; the listener is detached
    // from that one (not from a replacement made since) when the connection ends. Written by
    // connect before the worker starts, read by the worker.
    std::weak_ptr<StreamStatsCollector> attachedCollector;
    std::atomic<bool> telemetryValid{false};
    mutable std::mutex telemetryMutex;
    MdvTelemetry telemetry; // guarded by telemetryMutex

protected:
    MdvConfigWifi wifiConfig;      // guarded by configMutex
    CameraSettings cameraSettings; // guarded by configMutex
    CarConfig carConfig;           // guarded by configMutex
};
