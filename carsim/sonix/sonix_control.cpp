#include "carsim/sonix/sonix_control.h"

#include <cstdio>

#include "carsim/control/json_members.h"

namespace carsim {

using nlohmann::json;

namespace {

const int kBitrates[] = {1048576, 1258291, 1572864, 3145728};

bool isTableBitrate(int64_t value) {
    for (int b : kBitrates) {
        if (b == value) {
            return true;
        }
    }
    return false;
}

std::string orUnset(const std::string& text) {
    return text.empty() ? "__UNSET__" : text;
}

// Applies `key` to `target` when present; false when present with the wrong type.
template <typename T, typename Read>
bool optionalMember(const json& request, const char* key, T& target, Read read) {
    if (!request.contains(key)) {
        return true;
    }
    auto value = read(request, key);
    if (!value) {
        return false;
    }
    target = static_cast<T>(*value);
    return true;
}

} // namespace

SonixControl::SonixControl(CarState& state, VideoStream& video, const FaultSchedule& faults,
                           WireLog& log, double installSeconds)
    : state(state), video(video), faults(faults), firmware(state, log),
      installSeconds(installSeconds), table(commands()) {}

void SonixControl::onConnected(const sockaddr_storage&, FaultSchedule::Clock::time_point at) {
    connectedAt = at;
}

void SonixControl::onClosed() {
    // The stream belongs to the control session that set it up.
    video.stop();
}

std::optional<std::string> SonixControl::onRequest(const std::string& request) {
    json parsed = json::parse(request, nullptr, false);
    std::optional<json> reply = parsed.is_discarded() || !parsed.is_object()
                                    ? std::optional<json>(json{{"resp_status", kStatusUnknown}})
                                    : answer(parsed);
    if (!reply) {
        return std::nullopt;
    }
    return reply->dump();
}

std::optional<json> SonixControl::answer(const json& request) {
    auto type = textMember(request, "type");
    json reply = json::object();
    if (type) {
        reply["type"] = *type;
    }
    return runCommand(table, type, request, std::move(reply),
                      faults.answersHeartbeat(connectedAt, FaultSchedule::Clock::now()));
}

// A command that turns one camera setting on or off from the request's "status".
ControlCommand SonixControl::cameraSwitch(bool CameraSettings::*setting) {
    return [this, setting](const json& request, json&) {
        auto on = flagMember(request, "status");
        if (!on) {
            return kStatusBadParameter;
        }
        state.update([&](CarSettings& s) { s.camera.*setting = *on; });
        return kStatusOk;
    };
}

ControlCommands SonixControl::commands() {
    ControlCommands c;
    c["heartbeat"] = [this](const json&, json& reply) { return heartbeat(reply); };
    c["mendrel_get_mcu_version"] = [this](const json&, json& reply) {
        auto s = state.snapshot();
        reply["fwMajor"] = s.mcu.fwMajor;
        reply["fwMinor"] = s.mcu.fwMinor;
        reply["hwType"] = s.mcu.hwType;
        return kStatusOk;
    };
    c["synctime"] = [this](const json& request, json&) {
        const char* keys[] = {"year", "month", "day", "hour", "min", "sec"};
        int64_t v[6] = {};
        for (int i = 0; i < 6; ++i) {
            auto value = intMember(request, keys[i]);
            if (!value) {
                return kStatusBadParameter;
            }
            v[i] = *value;
        }
        char text[96];
        std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld %s",
                      static_cast<long long>(v[0]), static_cast<long long>(v[1]),
                      static_cast<long long>(v[2]), static_cast<long long>(v[3]),
                      static_cast<long long>(v[4]), static_cast<long long>(v[5]),
                      textMember(request, "timezone").value_or("GMT").c_str());
        state.update([&](CarSettings& s) { s.clock = text; });
        return kStatusOk;
    };
    c["getdeviceparameter"] = [this](const json&, json& reply) {
        auto s = state.snapshot();
        reply["wifiautochannel"] = s.wifi.autoChannel ? 1 : 0;
        reply["wifichannel"] = s.wifi.channel;
        reply["ssid"] = s.wifi.ssid;
        reply["mac"] = s.wifi.mac;
        reply["pwd"] = s.wifi.password;
        reply["powerfrequency"] = s.camera.powerFrequency;
        reply["wifidevicemode"] = s.wifi.deviceMode ? 1 : 0;
        reply["device_ssid"] = orUnset(s.wifi.deviceSsid);
        reply["device_pwd"] = orUnset(s.wifi.devicePassword);
        reply["fwversion"] = s.videoFirmwareVersion;
        return kStatusOk;
    };
    c["getrecordstatus"] = [this](const json&, json& reply) {
        auto s = state.snapshot();
        reply["length"] = s.camera.recordMinutes;
        reply["loop"] = s.camera.loopRecording ? 1 : 0;
        return kStatusOk;
    };
    c["getvideostatus"] = [this](const json&, json& reply) {
        auto s = state.snapshot();
        reply["bitrate"] = s.camera.bitrate;
        reply["wdr"] = s.camera.wdr ? 1 : 0;
        reply["gop"] = s.camera.gop;
        reply["resolution"] = s.camera.resolution;
        reply["fps"] = s.camera.fps;
        return kStatusOk;
    };
    c["mendrel_get_carconfig"] = [this](const json&, json& reply) {
        auto s = state.snapshot();
        reply["driving_brake"] = s.car.drivingBrake ? 1 : 0;
        reply["idle_disable"] = s.car.idleDisable ? 1 : 0;
        reply["gyrosteering_default_state"] = s.car.gyroSteeringDefaultState ? 1 : 0;
        reply["gyrosteering_enabled"] = s.car.gyroSteeringEnabled ? 1 : 0;
        reply["disengage_motors"] = s.car.motorsDisengaged ? 1 : 0;
        reply["controller_pairing_enabled"] = s.car.controllerPairingEnabled ? 1 : 0;
        return kStatusOk;
    };
    c["getsdspace"] = [this](const json&, json& reply) {
        auto s = state.snapshot();
        reply["errorcode"] = s.sd.present ? 0 : 1;
        reply["totalspace"] = s.sd.present ? s.sd.totalSpace : 0;
        reply["sdspace"] = s.sd.present ? s.sd.freePercent : 0;
        return kStatusOk;
    };
    c["mendrel_request_keyframe"] = [this](const json&, json&) {
        video.requestKeyFrame();
        return kStatusOk;
    };
    c["setwdr"] = cameraSwitch(&CameraSettings::wdr);
    c["setlooprecordstatus"] = cameraSwitch(&CameraSettings::loopRecording);
    c["setrecordlength"] = [this](const json& request, json&) {
        auto minutes = intMember(request, "minutes");
        if (!minutes || *minutes < 1 || *minutes > 60) {
            return kStatusBadParameter;
        }
        state.update([&](CarSettings& s) { s.camera.recordMinutes = static_cast<int>(*minutes); });
        return kStatusOk;
    };
    c["setpowerfrequency"] = [this](const json& request, json&) {
        auto hz = intMember(request, "frequency");
        if (!hz || (*hz != 50 && *hz != 60)) {
            return kStatusBadParameter;
        }
        state.update([&](CarSettings& s) { s.camera.powerFrequency = static_cast<int>(*hz); });
        return kStatusOk;
    };
    c["setvideoparameters"] = [this](const json& request, json&) {
        auto bitrate = intMember(request, "bitrate");
        if (!bitrate || !isTableBitrate(*bitrate)) {
            return kStatusBadParameter;
        }
        CameraSettings next = state.snapshot().camera;
        next.bitrate = static_cast<int>(*bitrate);
        if (!optionalMember(request, "gop", next.gop, intMember) ||
            !optionalMember(request, "resolution", next.resolution, intMember) ||
            !optionalMember(request, "fps", next.fps, intMember)) {
            return kStatusBadParameter;
        }
        state.update([&](CarSettings& s) { s.camera = next; });
        return kStatusOk;
    };
    c["mendrel_set_carconfig"] = [this](const json& request, json&) {
        return setCarConfig(request);
    };
    c["setwifiparameters"] = [this](const json& request, json&) { return setWifi(request); };
    c["mendrel_get_wifissid_list"] = [this](const json&, json& reply) {
        reply["SSID_list"] = state.snapshot().visibleNetworks;
        return kStatusOk;
    };
    c["mendrel_acknowledge_error"] = [this](const json& request, json&) {
        auto flag = textMember(request, "flag");
        char* end = nullptr;
        long value = flag ? std::strtol(flag->c_str(), &end, 16) : -1;
        if (!flag || flag->empty() || *end != '\0' || value < 0 || value > 255) {
            return kStatusBadParameter;
        }
        state.update([&](CarSettings& s) { s.errorFlags &= static_cast<uint8_t>(~value); });
        return kStatusOk;
    };
    c["sendfwbin"] = [this](const json& request, json& reply) {
        return sendFirmware(request, reply);
    };
    c["upgradefw"] = [this](const json&, json&) { return upgradeFirmware(); };
    c["mendrel_fwupdatestatus"] = [this](const json&, json&) { return firmwareStatus(); };
    return c;
}

int SonixControl::heartbeat(json& reply) {
    auto bytes = state.statusBytes();
    reply["bytes"] = toHex(bytes.data(), bytes.size());
    return kStatusOk;
}

int SonixControl::setWifi(const json& request) {
    WifiSettings next = state.snapshot().wifi;
    bool valid = optionalMember(request, "ssid", next.ssid, textMember) &&
                 optionalMember(request, "pwd", next.password, textMember) &&
                 optionalMember(request, "wifiautochannel", next.autoChannel, flagMember) &&
                 optionalMember(request, "channel", next.channel, intMember) &&
                 optionalMember(request, "wifidevicemode", next.deviceMode, flagMember) &&
                 optionalMember(request, "device_ssid", next.deviceSsid, textMember) &&
                 optionalMember(request, "device_pwd", next.devicePassword, textMember);
    if (!valid || next.channel < 1 || next.channel > 13 || next.ssid.empty()) {
        return kStatusBadParameter;
    }
    state.update([&](CarSettings& s) { s.wifi = next; });
    return kStatusOk;
}

int SonixControl::setCarConfig(const json& request) {
    CarConfiguration next = state.snapshot().car;
    bool valid =
        optionalMember(request, "driving_brake", next.drivingBrake, flagMember) &&
        optionalMember(request, "idle_disable", next.idleDisable, flagMember) &&
        optionalMember(request, "gyrosteering_default_state", next.gyroSteeringDefaultState,
                       flagMember) &&
        optionalMember(request, "controller_pairing_enabled", next.controllerPairingEnabled,
                       flagMember) &&
        optionalMember(request, "gyrosteering_enabled", next.gyroSteeringEnabled, flagMember) &&
        optionalMember(request, "disengage_motors", next.motorsDisengaged, flagMember);
    if (!valid) {
        return kStatusBadParameter;
    }
    state.update([&](CarSettings& s) { s.car = next; });
    return kStatusOk;
}

int SonixControl::sendFirmware(const json& request, json& reply) {
    auto size = intMember(request, "fileSize");
    if (!size || *size <= 0) {
        return kStatusBadParameter;
    }
    uint16_t port = firmware.start(*size);
    if (port == 0) {
        return kStatusNotReady;
    }
    reply["port"] = port;
    return kStatusOk;
}

int SonixControl::upgradeFirmware() {
    // The client closes the image's stream before it asks; allow the end of it to arrive.
    firmware.waitDone(std::chrono::milliseconds(2000));
    return state.update([&](CarSettings& s) {
        FirmwareState& f = s.firmware;
        if (!f.transferComplete || f.receivedSize != f.announcedSize) {
            return kStatusNotReady;
        }
        f.transferComplete = false;
        f.installing = true;
        f.installStart = std::chrono::steady_clock::now();
        return kStatusOk;
    });
}

int SonixControl::firmwareStatus() {
    auto now = std::chrono::steady_clock::now();
    return state.update([&](CarSettings& s) {
        FirmwareState& f = s.firmware;
        if (!f.installing) {
            return kStatusOk;
        }
        if (now - f.installStart < std::chrono::duration<double>(installSeconds)) {
            return kStatusInstalling;
        }
        f.installing = false;
        ++f.installsDone;
        return kStatusOk;
    });
}

} // namespace carsim
