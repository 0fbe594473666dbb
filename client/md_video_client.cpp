#include "client/md_video_client.h"

#include <algorithm>
#include <limits>

#include "client/stream_stats_collector.h"

MdVideoClient::MdVideoClient(MdVideoClientInterface* listener) : listener(listener) {}

MdVideoClient::~MdVideoClient() {
    // The implementation's part of the object is gone by now, so its disconnectImpl cannot be
    // called any more. Implementations disconnect first thing in their own destructors; if one
    // did not, the worker still ends its connection here (without that call) instead of
    // waiting for ever or calling into a destroyed object.
    implementationGone = true;
    {
        std::lock_guard lock(controlMutex);
        if (state != Idle) {
            stopIfConnected();
            if (worker.joinable()) {
                worker.join();
            }
        }
    }
    if (worker.joinable()) {
        worker.join();
    }
}

MdvError MdVideoClient::connect(const sockaddr_storage& address) {
    std::lock_guard lock(controlMutex);
    if (state != Idle) {
        return MdvErrorBusy;
    }
    // The worker of an earlier connection has set Idle as its last step; collect it.
    if (worker.joinable()) {
        worker.join();
    }
    {
        std::lock_guard stateLock(stateMutex);
        connecting = true;
        stopWhileConnecting = false;
    }
    MdvError result = MdvErrorFailed;
    try {
        result = connectToDeviceImpl(address);
    } catch (...) {
        result = MdvErrorFailed;
    }
    // The connection's own threads run from inside connectToDeviceImpl on; one that found the
    // connection dead before it was up asked for a stop that nothing could act on yet.
    if (!finishConnecting(result == MdvErrorNone)) {
        takeDownFailedConnect();
        return result == MdvErrorNone ? MdvErrorFailed : result;
    }
    // Before the worker starts, which detaches the listener again when the connection ends.
    if (const auto collector = StreamStatsCollector::current()) {
        collector->reset();
        collector->attachListener(listener);
        attachedCollector = collector;
    }
    try {
        worker = std::thread(&MdVideoClient::workerBody, this);
    } catch (...) {
        // Never Connected without a worker to take the connection down: undo in reverse.
        setState(Idle);
        detachFromCollector();
        takeDownFailedConnect();
        return MdvErrorFailed;
    }
    return MdvErrorNone;
}

void MdVideoClient::takeDownFailedConnect() noexcept {
    try {
        disconnectImpl();
    } catch (...) {
        // What could not be taken down stays for the next connect's own clean-up.
    }
}

bool MdVideoClient::disconnect() {
    if (onWorkerThread()) {
        // Joining here would join this very thread, and controlMutex may be held by a
        // disconnect that is waiting for it.
        stopIfConnected();
        return true;
    }
    std::lock_guard lock(controlMutex);
    stopIfConnected();
    if (worker.joinable()) {
        worker.join();
    }
    return true;
}

bool MdVideoClient::isConnected() const {
    return state == Connected;
}

void MdVideoClient::requestStop() {
    {
        std::lock_guard lock(stateMutex);
        if (state == Idle && connecting) {
            stopWhileConnecting = true;
            return;
        }
    }
    stopIfConnected();
}

int32_t MdVideoClient::startStreamingIfConnected() {
    if (state != Connected) {
        return -1;
    }
    return startStreaming();
}

int32_t MdVideoClient::stopStreamingIfConnected() {
    if (state != Connected) {
        return -1;
    }
    return stopStreaming();
}

void MdVideoClient::deliverFrame(int32_t frameNumber, int64_t timestamp,
                                 const std::vector<uint8_t>& accessUnit) {
    const size_t bytes = std::min<size_t>(accessUnit.size(), std::numeric_limits<uint32_t>::max());
    stream_stats::addDeliveredBytes(static_cast<uint32_t>(bytes));
    if (listener == nullptr) {
        return;
    }
    try {
        listener->onVideoFrame(frameNumber, timestamp, accessUnit);
    } catch (...) {
        // The frame is lost; the implementation's thread that delivered it carries on.
    }
}

void MdVideoClient::updateTelemetry(const std::function<void(MdvTelemetry&)>& change) {
    std::lock_guard lock(telemetryMutex);
    change(telemetry);
}

MdVideoClient::MdvTelemetry MdVideoClient::telemetrySnapshot() const {
    std::lock_guard lock(telemetryMutex);
    return telemetry;
}

void MdVideoClient::notifyTelemetry() {
    MdvTelemetry copy;
    {
        std::lock_guard lock(telemetryMutex);
        telemetryValid = true;
        copy = telemetry;
    }
    // Outside the lock: the listener may take its time, and writers must not wait for it.
    if (listener == nullptr) {
        return;
    }
    try {
        listener->onTelemetry(copy);
    } catch (...) {
        // The status block stays valid; the next change is reported again.
    }
}

MdVideoClient::MdvConfigWifi MdVideoClient::cachedWifiConfig() const {
    std::lock_guard lock(configMutex);
    return wifiConfig;
}

MdVideoClient::CameraSettings MdVideoClient::cachedCameraSettings() const {
    std::lock_guard lock(configMutex);
    return cameraSettings;
}

MdVideoClient::CarConfig MdVideoClient::cachedCarConfig() const {
    std::lock_guard lock(configMutex);
    return carConfig;
}

void MdVideoClient::workerBody() noexcept {
    workerId = std::this_thread::get_id();
    try {
        std::unique_lock lock(stateMutex);
        stateCond.wait(lock, [this] { return state == Stopping; });
    } catch (...) {
        // Taking the connection down below is still the right thing to do.
    }
    // Each step is guarded on its own: whatever fails, the client must end up Idle, or it
    // would refuse every later connect.
    try {
        if (!implementationGone) {
            disconnectImpl();
        }
    } catch (...) {
    }
    {
        std::lock_guard lock(telemetryMutex);
        telemetryValid = false;
        telemetry = MdvTelemetry{};
    }
    if (listener != nullptr) {
        try {
            listener->onDisconnected();
        } catch (...) {
        }
    }
    detachFromCollector();
    workerId = std::thread::id{};
    setState(Idle);
}

void MdVideoClient::setState(ClientState next) {
    {
        std::lock_guard lock(stateMutex);
        state = next;
    }
    stateCond.notify_all();
}

bool MdVideoClient::finishConnecting(bool succeeded) {
    std::lock_guard lock(stateMutex);
    connecting = false;
    if (!succeeded || stopWhileConnecting) {
        return false;
    }
    state = Connected; // nothing waits for this state to be entered
    return true;
}

void MdVideoClient::stopIfConnected() {
    {
        std::lock_guard lock(stateMutex);
        if (state != Connected) {
            return;
        }
        state = Stopping;
    }
    stateCond.notify_all();
}

bool MdVideoClient::onWorkerThread() const {
    return workerId == std::this_thread::get_id();
}

void MdVideoClient::detachFromCollector() noexcept {
    try {
        if (const auto collector = attachedCollector.lock()) {
            collector->detachListener(listener);
        }
    } catch (...) {
    }
    attachedCollector.reset();
}
