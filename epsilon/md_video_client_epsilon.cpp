// Connection lifecycle of the Zoderiv client: connect sequence, heartbeat, media thread, stream
// switching and disconnection. The control channel itself is in
// md_video_client_epsilon_control.cpp, the settings in md_video_client_epsilon_settings.cpp.
#include "epsilon/md_video_client_epsilon.h"

#include "client/json_read.h"
#include "net/hex.h"
#include "net/platform/socket_platform.h"
#include "net/socket_address.h"

namespace {
const std::vector<uint8_t> kDummyDatagram = {'d', 'u', 'm', 'm', 'y'};
} // namespace

MdVideoClientEpsilon::MdVideoClientEpsilon(MdVideoClientInterface* listener)
    : MdVideoClientEpsilon(listener, Timing{}) {}

MdVideoClientEpsilon::MdVideoClientEpsilon(MdVideoClientInterface* listener, Timing timing)
    : MdVideoClient(listener), timing(timing), heartbeatWake(timing.heartbeatPeriod),
      commandQueue([](PendingCommand& command) {
          nlohmann::json none;
          complete(command, -1, none);
      }) {}

MdVideoClientEpsilon::~MdVideoClientEpsilon() {
    // The base's worker takes a connection down through disconnectImpl, which needs this
    // object's members: it must have finished before any of them goes.
    disconnect();
}

bool MdVideoClientEpsilon::isStreaming() {
    return streaming == 1;
}

std::thread MdVideoClientEpsilon::startThread(const char* name, std::function<void()> body) {
    return std::thread([name, body = std::move(body)]() noexcept {
        nameCurrentThread(name);
        try {
            body();
        } catch (...) {
            // The bodies catch what they can handle themselves; nothing may end the process.
        }
    });
}

// Runs on the caller of connect with the base's controlMutex held. What a failed step leaves
// behind is taken down by disconnectImpl, which the base calls next.
MdvError MdVideoClientEpsilon::connectToDeviceImpl(const sockaddr_storage& address) {
    if (resolveAddress("0.0.0.0", localAddress) != 0) {
        return MdvErrorConnectFailed;
    }
    deviceAddress = address;
    // Any socket failure means the car is gone; the base's worker takes the connection down.
    netManager = std::make_shared<NetManager>(localAddress, deviceAddress,
                                              [this](int, unsigned) { requestStop(); });

    controlConnection = netManager->createConnection();
    if (controlConnection == nullptr) {
        return MdvErrorFailed;
    }
    if (const int opened =
            controlConnection->open(NetManager::kSocketTcp, kControlPort, controlSocket);
        opened != 0) {
        return static_cast<MdvError>(opened);
    }
    {
        std::lock_guard lock(exchangeMutex);
        nextTag = 0;
    }
    mediaConnection = netManager->createConnection();
    if (mediaConnection == nullptr) {
        return MdvErrorFailed;
    }
    if (const int opened = mediaConnection->open(NetManager::kSocketUdp, kMediaPort, mediaSocket);
        opened != 0) {
        return static_cast<MdvError>(opened);
    }

    // Tells the car where to send the video; no command thread runs yet.
    nlohmann::json handshake = {{"realtimePort", mediaConnection->localPort(mediaSocket)}};
    int status = 0;
    nlohmann::json response;
    if (!executeJsonCommand("connection_handshake", handshake, status, response)) {
        return MdvErrorFailed;
    }
    // From the announced port to the car's media port, so the path is open both ways.
    mediaConnection->send(NetManager::makePacket(mediaSocket, kDummyDatagram));

    commandQueue.open();
    running = true;
    heartbeatWake.start();
    if (!startConnectionThreads()) {
        return MdvErrorFailed;
    }
    getDeviceConfig(); // a car that will not tell its settings is still usable
    resetReceiveState();
    return MdvErrorNone;
}

bool MdVideoClientEpsilon::startConnectionThreads() noexcept {
    try {
        mediaThread = startThread("zoderiv-media", [this] { mediaReceiveLoop(); });
        heartbeatThread = startThread("zoderiv-beat", [this] { heartbeatLoop(); });
        commandThread = startThread("zoderiv-command", [this] { commandWorker(); });
        return true;
    } catch (...) {
        return false;
    }
}

// The order matters: the sockets and queues close first, so every thread blocked on one of them
// wakes; the command thread is joined last, because the media and heartbeat threads may wait on
// commands it runs (the queue refuses and fails any command once it has left).
int32_t MdVideoClientEpsilon::disconnectImpl() {
    running = false;
    if (mediaConnection != nullptr) {
        mediaConnection->close();
    }
    if (controlConnection != nullptr) {
        controlConnection->close();
    }
    if (netManager != nullptr) {
        netManager->shutdown();
    }
    heartbeatWake.stop();
    if (heartbeatThread.joinable()) {
        heartbeatThread.join();
    }
    if (mediaThread.joinable()) {
        mediaThread.join();
    }
    commandQueue.close();
    if (commandThread.joinable()) {
        commandThread.join();
    }
    mediaConnection.reset();
    controlConnection.reset();
    netManager.reset();
    return 0;
}

void MdVideoClientEpsilon::heartbeatLoop() noexcept {
    try {
        while (running) {
            if (!heartbeatWake.waitNext() || !running) {
                break;
            }
            nlohmann::json params;
            int status = 0;
            nlohmann::json response;
            if (!sendJsonCommand("heartbeat", params, status, response)) {
                requestStop();
                break;
            }
            std::string data;
            if (json_read::readString(response, "data", data)) {
                // The car's status bytes in hexadecimal; nothing in this client reads them.
                static_cast<void>(hexToBytes(data));
            }
        }
    } catch (...) {
        // Nothing watches the link any more: treat it as lost.
        requestStop();
    }
}

// Every datagram is taken off the media queue (which has no limit), also while the car is not
// told to stream; only those of a running stream reach the receiver, which asks for key frames
// with requestKeyFrame.
void MdVideoClientEpsilon::mediaReceiveLoop() noexcept {
    try {
        while (running) {
            std::unique_ptr<NetManager::NetPacket> packet;
            // False only once disconnectImpl has closed the queue, after clearing running.
            if (!mediaConnection->receive(packet, 0)) {
                continue;
            }
            if (streaming != 1) {
                continue;
            }
            receiver.onPacket(*packet);
        }
    } catch (...) {
        // The media thread ends; the connection goes on without video.
    }
    try {
        stopStreamingIfConnected();
    } catch (...) {
    }
}

void MdVideoClientEpsilon::resetReceiveState() {
    receiver.reset();
    streaming = 0;
}

void MdVideoClientEpsilon::requestKeyFrame() {
    nlohmann::json params;
    int status = 0;
    nlohmann::json response;
    sendJsonCommand("force_iframe", params, status, response);
}

int MdVideoClientEpsilon::enableVideoStreaming(bool enabled) {
    nlohmann::json params = {{"enabled", enabled}};
    int status = 0;
    nlohmann::json response;
    return sendJsonCommand("enable_video_streaming", params, status, response) ? 0 : -1;
}

int32_t MdVideoClientEpsilon::startStreaming() {
    try {
        std::lock_guard lock(streamMutex);
        if (streaming != 1) {
            enableVideoStreaming(true);
            resetReceiveState();
            streaming = 1;
        }
        return 0;
    } catch (...) {
        return -1;
    }
}

int32_t MdVideoClientEpsilon::stopStreaming() {
    try {
        std::lock_guard lock(streamMutex);
        if (streaming == 1) {
            enableVideoStreaming(false);
            streaming = 0;
        }
        return 0;
    } catch (...) {
        return -1;
    }
}
