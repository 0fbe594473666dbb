#include "sonix/md_video_client_sonix.h"

#include <cstring>
#include <system_error>

#include "client/json_read.h"
#include "media/rtsp/rtsp_session.h"
#include "sonix/protocol/clock_request.h"
#include "sonix/protocol/wheel_packet.h"

using nlohmann::json;
using namespace nlohmann::literals;

namespace {
constexpr uint16_t kControlPort = 8080;
constexpr uint16_t kMediaPort = 4500;
constexpr uint16_t kAuxMediaPort = 4501;
constexpr uint16_t kWheelPort = 19267;
constexpr int kSupportedHardware = 1;
constexpr int kFirmwareMajorRefused = 0x80;
} // namespace

MdVideoClientSonix::MdVideoClientSonix(MdVideoClientInterface* listener, WallClock wallClock)
    : MdVideoClient(listener), wallClock(wallClock ? std::move(wallClock) : [] {
          return std::chrono::system_clock::now();
      }) {}

MdVideoClientSonix::~MdVideoClientSonix() {
    disconnect();
    // A connect that failed has been taken down already; this only makes sure nothing of this
    // object is left running before its members go.
    disconnectImpl();
}

// ---- Connect sequence -------------------------------------------------------------------------

MdvError MdVideoClientSonix::connectToDeviceImpl(const sockaddr_storage& address) {
    MdvError result = openLink(address);
    if (result == MdvErrorNone) {
        result = checkMicrocontroller();
    }
    if (result == MdvErrorNone) {
        result = setDeviceClock();
    }
    if (result == MdvErrorNone) {
        result = startThreads();
    }
    if (result == MdvErrorNone) {
        result = readDeviceSettings();
    }
    if (result != MdvErrorNone) {
        return result; // the base calls disconnectImpl, which copes with every partial state
    }
    // A heartbeat or socket error during the sequence has asked for a stop; the base then fails
    // the connect.
    resetReceiveState();
    return MdvErrorNone;
}

MdvError MdVideoClientSonix::openLink(const sockaddr_storage& address) {
    sockaddr_storage local;
    if (resolveAddress("0.0.0.0", local) != 0) {
        return MdvErrorConnectFailed;
    }
    std::memcpy(&localAddress, &local, sizeof(localAddress));
    std::memcpy(&deviceAddress, &address, sizeof(deviceAddress));
    auto manager = std::make_shared<NetManager>(
        localAddress, deviceAddress,
        [this](int socket, unsigned code) { onNetError(socket, code); });
    auto control = manager->createConnection();
    auto media = manager->createConnection();
    auto wheel = manager->createConnection();
    {
        std::lock_guard lock(linkMutex);
        netManager = manager;
        controlConnection = control;
        mediaConnection = media;
        wheelConnection = wheel;
    }
    if (!control || !media || !wheel) {
        return MdvErrorFailed; // out of memory
    }

    int socket = kInvalidSocket;
    if (const int r = control->open(NetManager::kSocketTcp, kControlPort, socket); r != 0) {
        return static_cast<MdvError>(r);
    }
    controlSocket = socket;
    int media4500 = kInvalidSocket;
    int media4501 = kInvalidSocket;
    int wheel19267 = kInvalidSocket;
    if (const int r = media->open(NetManager::kSocketUdp, kMediaPort, media4500); r != 0) {
        return static_cast<MdvError>(r);
    }
    if (const int r = media->open(NetManager::kSocketUdp, kAuxMediaPort, media4501); r != 0) {
        return static_cast<MdvError>(r);
    }
    if (const int r = wheel->open(NetManager::kSocketUdp, kWheelPort, wheel19267); r != 0) {
        return static_cast<MdvError>(r);
    }
    {
        std::lock_guard lock(linkMutex);
        mediaSocket = media4500;
        auxMediaSocket = media4501;
        wheelSocket = wheel19267;
    }
    // Datagrams of the second media socket (port 4501) carry nothing the receiver uses.
    media->setPacketHandler([this, media4500](std::unique_ptr<NetPacket> packet) {
        if (packet->socket == media4500) {
            onMediaPacket(std::move(packet));
        }
    });
    auto session = std::make_shared<RtspSession>(manager, media, media4500, media4501);
    std::lock_guard lock(linkMutex);
    rtsp = std::move(session);
    return MdvErrorNone;
}

MdvError MdVideoClientSonix::checkMicrocontroller() {
    JsonRespStatus status;
    json response;
    if (!executeJsonCommand(R"({"type" : "mendrel_get_mcu_version"})"_json, status, response)) {
        return MdvErrorNoReply;
    }
    int major = 0;
    int minor = 0;
    int hardware = 0;
    if (!json_read::readInt(response, "fwMajor", major) ||
        !json_read::readInt(response, "fwMinor", minor) ||
        !json_read::readInt(response, "hwType", hardware)) {
        return MdvErrorFailed;
    }
    fwMajor = major;
    fwMinor = minor;
    hwType = hardware;
    if (hardware != kSupportedHardware || (major & kFirmwareMajorRefused) != 0) {
        return MdvErrorFailed;
    }
    return MdvErrorNone;
}

MdvError MdVideoClientSonix::setDeviceClock() {
    JsonRespStatus status;
    json response;
    const json request = sonix::clockRequest(sonix::civilTimeUtc(wallClock()));
    return executeJsonCommand(request, status, response) ? MdvErrorNone : MdvErrorFailed;
}

MdvError MdVideoClientSonix::startThreads() {
    // Whatever an earlier connection left queued is failed here, not performed.
    commandQueue.open();
    heartbeatWake.start();
    running = true;
    try {
        commandThread = std::thread(&MdVideoClientSonix::commandWorker, this);
        heartbeatThread = std::thread(&MdVideoClientSonix::heartbeatLoop, this);
    } catch (const std::system_error&) {
        return MdvErrorFailed; // disconnectImpl stops and joins what did start
    }
    return MdvErrorNone;
}

MdvError MdVideoClientSonix::readDeviceSettings() {
    const bool read = readDeviceParameters() && readRecordStatus() && readVideoStatus() &&
                      readCarConfig() && readSdSpace();
    return read ? MdvErrorNone : MdvErrorFailed;
}

void MdVideoClientSonix::onNetError(int socket, unsigned /*code*/) {
    // Only the control connection decides about the link; the UDP sockets' errors (a car that
    // is not listening on a media port, say) do not.
    if (firmwareUpdating || socket != controlSocket) {
        return;
    }
    requestStop();
}

// ---- Teardown ---------------------------------------------------------------------------------

int32_t MdVideoClientSonix::disconnectImpl() {
    std::shared_ptr<NetManager> manager;
    std::shared_ptr<NetConnection> media;
    std::shared_ptr<NetConnection> control;
    std::shared_ptr<NetConnection> wheel;
    std::shared_ptr<RtspSession> session;
    {
        // Under linkMutex, so that no firmware transfer opens a connection once this has begun.
        std::lock_guard lock(linkMutex);
        running = false;
        manager = netManager;
        media = mediaConnection;
        control = controlConnection;
        wheel = wheelConnection;
        session = rtsp;
    }
    // Closed connections end every pending and later receive at once: the exchange in
    // progress and each queued command fail fast and release their callers. The RTSP session
    // likewise ends a start or stop in progress and opens nothing more.
    for (const auto& connection : {media, control, wheel}) {
        if (connection) {
            connection->close();
        }
    }
    if (session) {
        session->close();
    }
    if (manager) {
        manager->shutdown();
    }
    {
        // A start or stop in progress has had its waits ended; it returns at once.
        std::lock_guard lock(streamMutex);
        streaming = 0;
    }
    heartbeatWake.stop();
    if (heartbeatThread.joinable()) {
        heartbeatThread.join();
    }
    commandQueue.close();
    if (commandThread.joinable()) {
        commandThread.join();
    }
    joinSdRefresh();
    {
        std::lock_guard lock(linkMutex);
        rtsp.reset();
        mediaConnection.reset();
        controlConnection.reset();
        wheelConnection.reset();
        netManager.reset();
        controlSocket = kInvalidSocket;
        mediaSocket = auxMediaSocket = wheelSocket = kInvalidSocket;
    }
    // The last references go here, on this thread, never on the poll thread that the
    // manager's destruction would have to join.
    session.reset();
    manager.reset();
    return 0;
}

// ---- Links ------------------------------------------------------------------------------------

MdVideoClientSonix::Link MdVideoClientSonix::controlLink() {
    std::lock_guard lock(linkMutex);
    return {netManager, controlConnection, controlSocket};
}

std::shared_ptr<RtspSession> MdVideoClientSonix::rtspSession() {
    std::lock_guard lock(linkMutex);
    return rtsp;
}

MdVideoClientSonix::Link MdVideoClientSonix::wheelLink() {
    std::lock_guard lock(linkMutex);
    if (!running || !isConnected()) {
        return {};
    }
    return {netManager, wheelConnection, wheelSocket};
}

// ---- Streaming and wheels ---------------------------------------------------------------------

bool MdVideoClientSonix::isStreaming() {
    std::lock_guard lock(streamMutex);
    return streaming == 1;
}

int32_t MdVideoClientSonix::startStreaming() {
    try {
        std::lock_guard lock(streamMutex);
        if (streaming == 1) {
            return 0;
        }
        const std::shared_ptr<RtspSession> session = rtspSession();
        if (!session || !running) {
            return -1;
        }
        const int result = session->start();
        if (result == 0) {
            resetReceiveState();
            streaming = 1;
        }
        return result;
    } catch (...) {
        return -1;
    }
}

int32_t MdVideoClientSonix::stopStreaming() {
    try {
        std::lock_guard lock(streamMutex);
        if (streaming != 1) {
            return 0;
        }
        // Stopped whatever the car answers.
        streaming = 0;
        const std::shared_ptr<RtspSession> session = rtspSession();
        return session ? session->stop() : -1;
    } catch (...) {
        return -1;
    }
}

bool MdVideoClientSonix::sendWheelControl(float first, float second) {
    try {
        const Link link = wheelLink();
        if (!link.connection) {
            return false;
        }
        link.connection->send(
            NetManager::makePacket(link.socket, sonix::wheelPacket(first, second)));
        return true;
    } catch (...) {
        return false;
    }
}

// ---- Media path -------------------------------------------------------------------------------

void MdVideoClientSonix::onMediaPacket(std::unique_ptr<NetPacket> packet) {
    // On the poll thread: the receiver repairs, delivers and decodes here, and asks for key
    // frames without waiting (this thread alone delivers the control channel's answers).
    receiver.onPacket(*packet);
}

void MdVideoClientSonix::resetReceiveState() {
    receiver.reset();
    streaming = 0;
}

void MdVideoClientSonix::parseSliceTrailer(SliceTrailerBytes trailer) {
    const std::optional<SliceTelemetry> values = readSliceTrailer(trailer);
    if (!values) {
        return;
    }
    updateTelemetry([&values](MdvTelemetry& t) { storeSliceTelemetry(*values, t); });
    applyDeviceFlags(values->deviceFlags);
    notifyTelemetry();
}

void MdVideoClientSonix::notifyLostFrame() {
    queueJsonCommand(R"({"type" : "mendrel_request_keyframe"})"_json,
                     [](const JsonRespStatus&, const json&) {});
}
