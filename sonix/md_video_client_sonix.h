// The device client for cars built on the Sonix camera board.
//
// The car is controlled through JSON exchanges on one TCP connection (port 8080), performed in
// order by one command thread; a heartbeat thread keeps the link alive every 2 s and feeds the
// telemetry. Video is set up over RTSP (port 554) and arrives as UDP datagrams on the media
// socket; the wheels are driven with datagrams of their own (port 19267).
//
// Threads of a connected client: the socket layer's poll thread (socket reads, the media
// path, error reports), the command thread, the heartbeat thread, and now and then a short
// SD-space refresh. Lock order, outermost first: the base's controlMutex, then configMutex
// (a setter holds it across its exchanges), then streamMutex or exchangeMutex, then linkMutex
// or sdMutex; the socket layer's own locks come last.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "client/command_queue.h"
#include "client/md_video_client.h"
#include "client/periodic_wake.h"
#include "media/receiver/media_receiver.h"
#include "net/net_manager.h"
#include "sonix/firmware_catalogue.h"
#include "sonix/protocol/answer.h"

class RtspSession;

class MdVideoClientSonix final : public MdVideoClient {
public:
    using JsonRespStatus = sonix::RespStatus;
    using JsonCallback = std::function<void(const JsonRespStatus&, const nlohmann::json&)>;

    // One queued exchange; its callback runs exactly once, on the command thread when the
    // exchange was performed, or at once with a failure when the queue refused or discarded it.
    struct PendingCommand {
        nlohmann::json request;
        JsonCallback callback;
    };

    // Where the car's clock is set from: UTC on the system clock unless a test gives another.
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    explicit MdVideoClientSonix(MdVideoClientInterface* listener, WallClock wallClock = {});
    ~MdVideoClientSonix() override;

    bool isStreaming() override;
    bool setConfigWifi(const MdvConfigWifi& config) override;
    bool getSsidList(std::vector<std::string>& ssids) override;
    bool setCameraSettings(const CameraSettings& settings) override;
    bool setCarConfig(const CarConfig& config) override;
    void acknowledgeError(uint8_t flag) override;
    bool isFirmwareUpdateAvailable() override;
    int32_t updateFirmware(std::function<void(float)> progress) override;
    std::vector<std::pair<std::string, std::string>> getFirmwareVersions() override;
    bool sendWheelControl(float first, float second) override;
    int32_t startStreaming() override;
    int32_t stopStreaming() override;

private:
    friend class SonixClientProbe; // the tests' window on the channel and the keep-alive

    using NetPacket = NetManager::NetPacket;
    using NetConnection = NetManager::NetConnection;

    // The durations of a firmware update; tests shorten them.
    struct FirmwareTiming {
        std::chrono::microseconds mcuInstall{13000000};
        std::chrono::microseconds videoInstall{38000000};
        std::chrono::microseconds mcuOnlyAllowance{1000000};
        std::chrono::microseconds statusPoll{1000000};
        int afterImageMs = 2000;
        int beforeVideoBoardMs = 3000;
        int progressStepMs = 100;
    };

    // Connect sequence and teardown (md_video_client_sonix.cpp).
    MdvError connectToDeviceImpl(const sockaddr_storage& address) override;
    int32_t disconnectImpl() override;
    MdvError openLink(const sockaddr_storage& address);
    MdvError checkMicrocontroller();
    MdvError setDeviceClock();
    MdvError startThreads();
    MdvError readDeviceSettings();
    void onNetError(int socket, unsigned code);
    // The manager and one of its connections, taken together under linkMutex so that neither
    // is released while the caller uses them.
    struct Link {
        std::shared_ptr<NetManager> manager;
        std::shared_ptr<NetConnection> connection;
        int socket = kInvalidSocket;
    };
    Link controlLink();
    Link wheelLink();
    std::shared_ptr<RtspSession> rtspSession();

    // Control channel (control_channel.cpp).
    bool sendJsonCommand(const nlohmann::json& request, JsonRespStatus& status,
                         nlohmann::json& response);
    // As above; `settle` is told whether the command succeeded where it completes (on the
    // command thread, before that thread takes the next command) and before the caller wakes.
    // It must not throw.
    using Settle = std::function<void(bool succeeded)>;
    bool sendJsonCommand(const nlohmann::json& request, JsonRespStatus& status,
                         nlohmann::json& response, const Settle& settle);
    bool queueJsonCommand(const nlohmann::json& request, JsonCallback callback);
    bool executeJsonCommand(const nlohmann::json& request, JsonRespStatus& status,
                            nlohmann::json& response) noexcept;
    void commandWorker() noexcept;
    static void failCommand(PendingCommand& command);

    // Keep-alive (keep_alive.cpp).
    void heartbeatLoop() noexcept;
    void applyHeartbeat(const nlohmann::json& response);
    void applyDeviceFlags(uint8_t flags);
    void startSdRefresh();
    void sdRefreshBody() noexcept;
    void joinSdRefresh();

    // Settings (settings.cpp).
    bool readDeviceParameters();
    bool readRecordStatus();
    bool readVideoStatus();
    bool readCarConfig();
    bool readSdSpace();
    bool exchange(const nlohmann::json& request, nlohmann::json& response);

    // Firmware (firmware_update.cpp).
    int sendFirmwareImage(const std::vector<uint8_t>& image);
    int pushImage(const std::vector<uint8_t>& image, uint16_t port);
    int updateMicrocontroller(const FirmwareCatalogue::ImageProvider& images,
                              const std::function<void(float)>& report, float share,
                              bool videoBoardFollows);
    int updateVideoBoard(const FirmwareCatalogue::ImageProvider& images,
                         const std::function<void(float)>& report, float mcuShare, float share);
    int microcontrollerVersion() const;

    // Media path: the receiver runs on the poll thread, inside the media connection's handler.
    void onMediaPacket(std::unique_ptr<NetPacket> packet);
    void resetReceiveState();
    void notifyLostFrame();
    // A slice's telemetry trailer: a valid one updates the status block and the device flags,
    // and is reported to the listener.
    void parseSliceTrailer(SliceTrailerBytes trailer);

    const WallClock wallClock;
    FirmwareTiming firmwareTiming;

    // Control channel.
    std::mutex exchangeMutex; // held through one whole exchange, send and answer
    // Set by the connect sequence just before its threads start; cleared first by disconnect.
    std::atomic<bool> running{false};
    CommandQueue<PendingCommand> commandQueue{&MdVideoClientSonix::failCommand};
    std::thread commandThread;
    // While a video-board image installs, a lost link is not reported (the board restarts).
    std::atomic<bool> firmwareUpdating{false};

    // The link. Pointers and handles are written by the connect sequence and released by
    // disconnectImpl, both under linkMutex; other threads copy them under it.
    std::mutex linkMutex;
    std::shared_ptr<NetManager> netManager;           // guarded by linkMutex
    std::shared_ptr<NetConnection> controlConnection; // guarded by linkMutex
    std::shared_ptr<NetConnection> mediaConnection;   // guarded by linkMutex
    std::shared_ptr<NetConnection> wheelConnection;   // guarded by linkMutex
    // Read by the poll thread's error reports, hence atomic.
    std::atomic<int> controlSocket{kInvalidSocket};
    int mediaSocket = kInvalidSocket;    // guarded by linkMutex
    int auxMediaSocket = kInvalidSocket; // guarded by linkMutex
    int wheelSocket = kInvalidSocket;    // guarded by linkMutex
    sockaddr_storage deviceAddress{};    // connect sequence only
    sockaddr_storage localAddress{};     // connect sequence only

    // Microcontroller, as read at connect.
    std::atomic<int> fwMajor{0};
    std::atomic<int> fwMinor{0};
    std::atomic<int> hwType{0};

    // Keep-alive.
    PeriodicWake heartbeatWake{std::chrono::seconds(2)}; // steady clock; disconnect stops it
    std::thread heartbeatThread;
    std::mutex sdMutex;
    std::thread sdSpaceThread;                 // guarded by sdMutex
    std::atomic<bool> sdRefreshRunning{false}; // set under sdMutex; cleared by the refresh

    // Derived from the video board's "fwversion"; guarded by configMutex.
    std::string videoFirmwareVersion;
    int videoFirmwareNumber = -1;

    // The RTSP session of this connection; its close() may come while a start or stop runs.
    std::shared_ptr<RtspSession> rtsp; // guarded by linkMutex

    // Streaming.
    std::mutex streamMutex; // serialises start, stop and the isStreaming query
    std::atomic<int> streaming{0};

    // Frame assembly of the video datagrams; a stream start resets it from the caller's thread.
    CallbackSink receiverSink{
        [this](int32_t number, int64_t timestamp, const std::vector<uint8_t>& unit) {
            deliverFrame(number, timestamp, unit);
        },
        [this] { notifyLostFrame(); },
        [this](SliceTrailerBytes trailer) { parseSliceTrailer(trailer); }};
    MediaReceiver receiver{MediaReceiver::Family::Sonix, receiverSink};
};
