// The heartbeat every 2 s, the telemetry it carries, and the SD-space refresh that a change of
// the device flags starts.
#include "client/json_read.h"
#include "net/platform/socket_platform.h"
#include "sonix/md_video_client_sonix.h"
#include "sonix/protocol/device_status.h"

using nlohmann::json;
using namespace nlohmann::literals;

void MdVideoClientSonix::heartbeatLoop() noexcept {
    nameCurrentThread("sonix-heartbeat");
    try {
        const json request = R"({"type" : "heartbeat"})"_json;
        // One missed beat ends the connection, except while the video board restarts with new
        // firmware: the update reports the loss itself. The stop is asked for on the command
        // thread before it runs the next command, so a connect whose last reads queued behind
        // the beat always fails.
        const Settle stopOnFailure = [this](bool succeeded) {
            if (!succeeded && !firmwareUpdating) {
                requestStop();
            }
        };
        // A fixed schedule on the steady clock: each beat is due 2 s after the previous one was
        // due, however long the exchange took.
        while (running && heartbeatWake.waitNext() && running) {
            JsonRespStatus status;
            json response;
            if (!sendJsonCommand(request, status, response, stopOnFailure)) {
                return;
            }
            applyHeartbeat(response);
        }
    } catch (...) {
        // Out of memory: the link is no longer watched, so give it up.
        requestStop();
    }
}

void MdVideoClientSonix::applyHeartbeat(const json& response) {
    // A beat without usable "bytes" still counts as a good one.
    std::string hex;
    if (!json_read::readString(response, "bytes", hex)) {
        return;
    }
    const auto bytes = sonix::decodeStatusBytes(hex);
    if (!bytes) {
        return;
    }
    const auto& b = *bytes;
    updateTelemetry([&b](MdvTelemetry& t) {
        t.statusByte0 = b[0];
        t.statusByte1 = b[1];
        t.statusByte2 = b[2];
        t.statusFlag0 = (b[3] & 0x01) != 0;
        t.gyroSteeringEnabled = (b[3] & 0x02) != 0;
        t.motorsDisengaged = (b[3] & 0x04) != 0;
    });
    applyDeviceFlags(b[4]);
    notifyTelemetry();
}

void MdVideoClientSonix::applyDeviceFlags(uint8_t flags) {
    bool becameReadable = false;
    updateTelemetry([flags, &becameReadable](MdvTelemetry& t) {
        const bool before = sonix::cardReadable(t.deviceFlag0, t.deviceFlag3, t.deviceFlag4);
        t.deviceFlag1 = (flags & 0x02) != 0;
        t.deviceFlag0 = (flags & 0x01) != 0;
        t.deviceFlag2 = (flags & 0x04) != 0;
        t.deviceFlag3 = (flags & 0x08) != 0;
        t.deviceFlag4 = (flags & 0x10) != 0;
        becameReadable =
            !before && sonix::cardReadable(t.deviceFlag0, t.deviceFlag3, t.deviceFlag4);
    });
    if (becameReadable) {
        startSdRefresh();
    }
}

void MdVideoClientSonix::startSdRefresh() {
    // Runs on the heartbeat thread and on the poll thread. Neither may wait for an exchange
    // (the poll thread alone delivers its answer), so a refresh still running is left alone
    // and no second one starts; only a finished one is joined.
    std::lock_guard lock(sdMutex);
    if (!running || sdRefreshRunning) {
        return;
    }
    if (sdSpaceThread.joinable()) {
        sdSpaceThread.join(); // finished: it has cleared sdRefreshRunning as its last step
    }
    sdRefreshRunning = true;
    try {
        sdSpaceThread = std::thread(&MdVideoClientSonix::sdRefreshBody, this);
    } catch (...) {
        sdRefreshRunning = false; // the next change of the flags tries again
    }
}

void MdVideoClientSonix::sdRefreshBody() noexcept {
    nameCurrentThread("sonix-sd-space");
    try {
        readSdSpace();
    } catch (...) {
        // The cached space stays as it was.
    }
    sdRefreshRunning = false;
}

void MdVideoClientSonix::joinSdRefresh() {
    std::lock_guard lock(sdMutex);
    if (sdSpaceThread.joinable()) {
        sdSpaceThread.join();
    }
}
