// The device client of the Zoderiv car family.
//
// Control channel: one TCP connection to the car's port 8080 carrying JSON requests tagged with
// a running number ("tag", 0 from every connect), answered with length-prefixed JSON
// (answer_framing.h). Exchanges run one at a time: the handshake on the connecting thread, all
// later ones on the command thread, which works through a queue; callers of sendJsonCommand
// wait for their command's outcome. Video arrives as UDP datagrams on the media socket, whose
// local port the handshake announces as "realtimePort", and is read by the media thread.
//
// Threads of a connection (all started by connect, all joined by disconnectImpl):
//   zoderiv-media    mediaReceiveLoop: reads the media socket's queue
//   zoderiv-beat     heartbeatLoop: one "heartbeat" every 2 s on a fixed schedule; a failed one
//                    ends the connection
//   zoderiv-command  commandWorker: runs the queued exchanges in order
// plus the network manager's poll thread, whose error reports end the connection.
//
// Every queued command completes exactly once: the command thread runs it, or the queue fails
// it with status -1 at once when it is refused (closed: before the first connect, after the
// command thread has left, after disconnect) or discarded (closed with commands still queued).
// So no caller of sendJsonCommand waits for a thread that no longer runs.
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

class MdVideoClientEpsilon : public MdVideoClient {
public:
    // One request waiting for the command thread.
    struct PendingCommand {
        std::string command;
        nlohmann::json params;
        // Called exactly once with the outcome, unless empty.
        std::function<void(int status, nlohmann::json& response)> done;
    };

    // The protocol's periods. Every connection to a car uses the defaults; tests of behaviour
    // that does not depend on the figures themselves may shorten them.
    struct Timing {
        std::chrono::milliseconds heartbeatPeriod{2000};
        int answerTimeoutMs = 5000; // per read of an answer
        int wifiPauseMs = 2000;     // setConfigWifi's wait after queueing the request
    };

    static constexpr uint16_t kControlPort = 8080;
    static constexpr uint16_t kMediaPort = 8082;

    explicit MdVideoClientEpsilon(MdVideoClientInterface* listener);
    MdVideoClientEpsilon(MdVideoClientInterface* listener, Timing timing);
    ~MdVideoClientEpsilon() override;

    bool isStreaming() override;
    // False, with the cache unchanged, when not connected. Otherwise queues the request without
    // waiting for the car's answer, pauses 2 s, takes the settings into the cache and reports
    // true whatever the car made of them.
    bool setConfigWifi(const MdvConfigWifi& config) override;
    // The names sorted byte-wise; `ssids` is left untouched when the call fails.
    bool getSsidList(std::vector<std::string>& ssids) override;
    // The car has no such functions.
    bool setCameraSettings(const CameraSettings& settings) override;
    bool setCarConfig(const CarConfig& config) override;
    void acknowledgeError(uint8_t flag) override;
    bool isFirmwareUpdateAvailable() override;
    int32_t updateFirmware(std::function<void(float)> progress) override;
    std::vector<std::pair<std::string, std::string>> getFirmwareVersions() override;
    bool sendWheelControl(float first, float second) override;
    // 0 in every case; "enable_video_streaming" is sent only when the state changes, and its
    // outcome is not looked at.
    int32_t startStreaming() override;
    int32_t stopStreaming() override;

protected:
    // Starts one of the connection's threads under `name`; throws std::system_error when it
    // cannot. The one place where the client makes threads, so a test can refuse one.
    virtual std::thread startThread(const char* name, std::function<void()> body);

private:
    friend struct EpsilonClientTestAccess;

    MdvError connectToDeviceImpl(const sockaddr_storage& address) override;
    int32_t disconnectImpl() override;
    // The three connection threads, in their start order; false when one could not be started
    // (those started stay for disconnectImpl).
    bool startConnectionThreads() noexcept;

    // One exchange on the calling thread: writes "command" and "tag" into `params`, sends the
    // request and waits for its answer. True for the request's tag and status 0. `status` is
    // written only when the answer had the request's tag; `response` only on success.
    bool executeJsonCommand(const std::string& command, nlohmann::json& params, int& status,
                            nlohmann::json& response) noexcept;
    // Queues the request and waits until it has run or been refused; true when its status is 0.
    bool sendJsonCommand(const std::string& command, nlohmann::json& params, int& status,
                         nlohmann::json& response);
    // Queues the request and returns at once; false when the queue refused it (then `done`, if
    // set, has already been called with status -1).
    bool queueJsonCommand(const std::string& command, const nlohmann::json& params,
                          std::function<void(int, nlohmann::json&)> done);
    static void complete(PendingCommand& command, int status, nlohmann::json& response) noexcept;
    int takeTag(); // with exchangeMutex held

    int enableVideoStreaming(bool enabled);
    bool getDeviceConfig();

    void resetReceiveState();
    // For the media receiver: asks the car for a key frame. Blocks until the command has run or
    // been refused; the outcome is not looked at.
    void requestKeyFrame();

    void mediaReceiveLoop() noexcept;
    void heartbeatLoop() noexcept;
    void commandWorker() noexcept;

    const Timing timing;

    // Held across one whole exchange; guards nextTag.
    std::mutex exchangeMutex;
    // Serialises startStreaming and stopStreaming, across their exchanges.
    std::mutex streamMutex;
    // True while the connection's threads are to run.
    std::atomic<bool> running{false};
    std::thread mediaThread;
    std::thread heartbeatThread;
    std::thread commandThread;
    PeriodicWake heartbeatWake;

    // Written by connect and disconnectImpl only, while none of the connection's threads runs
    // (they start after and are joined before), so those threads read them without a lock.
    sockaddr_storage deviceAddress{};
    sockaddr_storage localAddress{};
    std::shared_ptr<NetManager> netManager;
    int controlSocket = kInvalidSocket;
    int mediaSocket = kInvalidSocket;
    std::shared_ptr<NetManager::NetConnection> controlConnection;
    std::shared_ptr<NetManager::NetConnection> mediaConnection;

    // 1 while the car is told to stream; the media thread reads it for every packet.
    std::atomic<int> streaming{0};
    // The media thread's frame assembly; a stream start resets it from the caller's thread.
    CallbackSink receiverSink{
        [this](int32_t number, int64_t timestamp, const std::vector<uint8_t>& unit) {
            deliverFrame(number, timestamp, unit);
        },
        [this] { requestKeyFrame(); }};
    MediaReceiver receiver{MediaReceiver::Family::Zoderiv, receiverSink};
    CommandQueue<PendingCommand> commandQueue;
    int nextTag = 0; // guarded by exchangeMutex
};
