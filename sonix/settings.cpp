// The car's settings: read at connect into the base client's caches, changed on request. A
// setter sends only what differs from the cache and records a change only once the car has
// accepted it (Wi-Fi: after a fixed pause, since the car restarts its Wi-Fi).
#include <algorithm>

#include "client/json_read.h"
#include "net/sleep.h"
#include "sonix/md_video_client_sonix.h"
#include "sonix/protocol/camera_values.h"
#include "sonix/protocol/device_status.h"
#include "sonix/protocol/firmware_version.h"

using nlohmann::json;
using namespace nlohmann::literals;
using json_read::readInt;
using json_read::readString;

namespace {
constexpr const char* kUnset = "__UNSET__"; // the car's word for a device-mode text never set
constexpr int kWifiRestartPauseMs = 2000;
// The microcontroller firmware from which the car takes a motor state in its configuration.
constexpr int kMotorStateFirmware = 0x0101;

std::string unsetToEmpty(const std::string& text) {
    return text == kUnset ? std::string() : text;
}
} // namespace

bool MdVideoClientSonix::exchange(const json& request, json& response) {
    JsonRespStatus status;
    return sendJsonCommand(request, status, response);
}

// ---- Reads at connect -------------------------------------------------------------------------

bool MdVideoClientSonix::readDeviceParameters() {
    json r;
    if (!exchange(R"({"type" : "getdeviceparameter"})"_json, r)) {
        return false;
    }
    int autoChannel = 0;
    int channel = 0;
    int powerFrequency = 0;
    int deviceMode = 0;
    std::string ssid, mac, password, deviceSsid, devicePassword, firmware;
    if (!readInt(r, "wifiautochannel", autoChannel) || !readInt(r, "wifichannel", channel) ||
        !readString(r, "ssid", ssid) || !readString(r, "mac", mac) ||
        !readString(r, "pwd", password) || !readInt(r, "powerfrequency", powerFrequency) ||
        !readInt(r, "wifidevicemode", deviceMode) || !readString(r, "device_ssid", deviceSsid) ||
        !readString(r, "device_pwd", devicePassword) || !readString(r, "fwversion", firmware)) {
        return false;
    }
    std::lock_guard lock(configMutex);
    wifiConfig.autoChannel = autoChannel != 0;
    wifiConfig.channel = channel;
    wifiConfig.ssid = ssid;
    wifiConfig.password = password;
    wifiConfig.mac = mac;
    wifiConfig.deviceMode = deviceMode != 0;
    wifiConfig.deviceSsid = unsetToEmpty(deviceSsid);
    wifiConfig.devicePassword = unsetToEmpty(devicePassword);
    if (const int setting = sonix::powerFrequencySetting(powerFrequency); setting != 0) {
        cameraSettings.powerFrequency = setting;
    }
    videoFirmwareVersion.clear();
    videoFirmwareNumber = -1;
    // A board without usable firmware fails the connect; its Wi-Fi settings stay cached.
    const auto video = sonix::parseVideoFirmware(firmware);
    if (!video) {
        return false;
    }
    videoFirmwareVersion = video->version;
    videoFirmwareNumber = video->number;
    return true;
}

bool MdVideoClientSonix::readRecordStatus() {
    json r;
    int length = 0;
    int loop = 0;
    if (!exchange(R"({"type" : "getrecordstatus"})"_json, r) || !readInt(r, "length", length) ||
        !readInt(r, "loop", loop)) {
        return false;
    }
    std::lock_guard lock(configMutex);
    cameraSettings.recordMinutes = length;
    cameraSettings.loopRecording = loop != 0;
    return true;
}

bool MdVideoClientSonix::readVideoStatus() {
    json r;
    int bitrate = 0;
    int wdr = 0;
    if (!exchange(R"({"type" : "getvideostatus"})"_json, r) || !readInt(r, "bitrate", bitrate) ||
        !readInt(r, "wdr", wdr)) {
        return false;
    }
    std::lock_guard lock(configMutex);
    cameraSettings.wdr = wdr != 0;
    cameraSettings.bitrateLevel = sonix::bitrateLevel(bitrate);
    return true;
}

bool MdVideoClientSonix::readCarConfig() {
    json r;
    int brake = 0;
    int idle = 0;
    int gyroDefault = 0;
    int gyro = 0;
    int disengaged = 0;
    if (!exchange(R"({"type" : "mendrel_get_carconfig"})"_json, r) ||
        !readInt(r, "driving_brake", brake) || !readInt(r, "idle_disable", idle) ||
        !readInt(r, "gyrosteering_default_state", gyroDefault) ||
        !readInt(r, "gyrosteering_enabled", gyro) || !readInt(r, "disengage_motors", disengaged)) {
        return false;
    }
    std::lock_guard lock(configMutex);
    carConfig.drivingBrake = brake != 0;
    carConfig.idleDisable = idle != 0;
    carConfig.gyroSteeringDefaultState = gyroDefault != 0;
    // The current states live in the telemetry, beside the heartbeat's copy of them.
    updateTelemetry([&](MdvTelemetry& t) {
        t.gyroSteeringEnabled = gyro != 0;
        t.motorsDisengaged = disengaged != 0;
    });
    return true;
}

bool MdVideoClientSonix::readSdSpace() {
    json r;
    int error = 0;
    if (!exchange(R"({"type" : "getsdspace"})"_json, r) || !readInt(r, "errorcode", error)) {
        return false;
    }
    if (error != 0) {
        // No card information: not a failure.
        updateTelemetry([](MdvTelemetry& t) {
            t.deviceFlag0 = false;
            t.sdTotal = 0;
            t.sdSpace = 0;
        });
        return true;
    }
    int total = 0;
    int percent = 0;
    if (!readInt(r, "totalspace", total) || !readInt(r, "sdspace", percent)) {
        return false;
    }
    const sonix::SdSpace space = sonix::sdSpaceFrom(total, percent);
    updateTelemetry([&space](MdvTelemetry& t) {
        t.deviceFlag3 = true;
        t.sdTotal = space.total;
        t.sdSpace = space.free;
        t.deviceFlag0 = true;
    });
    return true;
}

// ---- Setters ----------------------------------------------------------------------------------

bool MdVideoClientSonix::setCameraSettings(const CameraSettings& settings) {
    try {
        std::lock_guard lock(configMutex);
        const CameraSettings& cached = cameraSettings;
        json r;
        // The first refusal ends the change; what the car accepted before it is not recorded.
        if (settings.wdr != cached.wdr) {
            json request = R"({"type" : "setwdr"})"_json;
            request["status"] = settings.wdr ? 1 : 0;
            if (!exchange(request, r)) {
                return false;
            }
        }
        if (settings.loopRecording != cached.loopRecording) {
            json request = R"({"type" : "setlooprecordstatus"})"_json;
            request["status"] = settings.loopRecording ? 1 : 0;
            if (!exchange(request, r)) {
                return false;
            }
        }
        if (settings.recordMinutes != cached.recordMinutes) {
            json request = R"({"type" : "setrecordlength"})"_json;
            request["minutes"] = settings.recordMinutes;
            if (!exchange(request, r)) {
                return false;
            }
        }
        if (settings.powerFrequency != cached.powerFrequency) {
            json request = R"({"type" : "setpowerfrequency"})"_json;
            request["frequency"] = sonix::powerFrequencyHertz(settings.powerFrequency);
            if (!exchange(request, r)) {
                return false;
            }
        }
        if (settings.bitrateLevel != cached.bitrateLevel) {
            json request =
                R"({"type" : "setvideoparameters", "gop":0, "resolution":1, "fps":30})"_json;
            request["bitrate"] = sonix::bitrateOfLevel(settings.bitrateLevel);
            if (!exchange(request, r)) {
                return false;
            }
        }
        cameraSettings = settings;
        return true;
    } catch (...) {
        return false;
    }
}

bool MdVideoClientSonix::setCarConfig(const CarConfig& config) {
    try {
        std::lock_guard lock(configMutex);
        json request = R"({"type" : "mendrel_set_carconfig"})"_json;
        request["driving_brake"] = config.drivingBrake ? 1 : 0;
        request["idle_disable"] = config.idleDisable ? 1 : 0;
        request["gyrosteering_default_state"] = config.gyroSteeringDefaultState ? 1 : 0;
        request["controller_pairing_enabled"] = config.controllerPairingEnabled ? 1 : 0;
        // Values not to be applied keep the car's current states.
        const MdvTelemetry current = telemetrySnapshot();
        const bool gyro =
            config.applyGyroSteering ? config.gyroSteeringEnabled : current.gyroSteeringEnabled;
        const bool motors =
            config.applyDisengageMotors && microcontrollerVersion() >= kMotorStateFirmware
                ? config.disengageMotors
                : current.motorsDisengaged;
        request["gyrosteering_enabled"] = gyro ? 1 : 0;
        request["disengage_motors"] = motors ? 1 : 0;
        json r;
        if (!exchange(request, r)) {
            return false;
        }
        carConfig = config;
        return true;
    } catch (...) {
        return false;
    }
}

bool MdVideoClientSonix::setConfigWifi(const MdvConfigWifi& config) {
    try {
        std::lock_guard lock(configMutex);
        // Not connected: nothing would be sent, so nothing may be cached as accepted.
        if (!isConnected()) {
            return false;
        }
        const MdvConfigWifi& cached = wifiConfig;
        json request = R"({"type" : "setwifiparameters"})"_json;
        if (config.ssid != cached.ssid) {
            request["ssid"] = config.ssid;
        }
        if (config.password != cached.password) {
            request["pwd"] = config.password;
        }
        if (config.autoChannel != cached.autoChannel) {
            request["wifiautochannel"] = config.autoChannel ? 1 : 0;
        }
        if (config.channel != cached.channel) {
            request["channel"] = config.channel; // written as "channel", read as "wifichannel"
        }
        if (config.deviceMode != cached.deviceMode) {
            request["wifidevicemode"] = config.deviceMode ? 1 : 0;
        }
        if (config.deviceSsid != cached.deviceSsid) {
            request["device_ssid"] = config.deviceSsid;
        }
        if (config.devicePassword != cached.devicePassword) {
            request["device_pwd"] = config.devicePassword;
        }
        // The car restarts its Wi-Fi on this request, so its answer may never come: the change
        // is sent, given a fixed pause and then taken as done.
        if (!queueJsonCommand(request, [](const JsonRespStatus&, const json&) {})) {
            return false; // refused: the connection ended meanwhile
        }
        sleepMs(kWifiRestartPauseMs);
        wifiConfig = config;
        return true;
    } catch (...) {
        return false;
    }
}

bool MdVideoClientSonix::getSsidList(std::vector<std::string>& ssids) {
    try {
        json r;
        if (!exchange(R"({"type" : "mendrel_get_wifissid_list"})"_json, r)) {
            return false;
        }
        ssids.clear();
        // The library's iteration: an array's elements, an object's values, a lone value
        // itself, nothing for a missing member.
        const auto found = r.find("SSID_list");
        if (found != r.end()) {
            for (const json& element : *found) {
                std::string ssid;
                if (!json_read::asString(element, ssid)) {
                    return false;
                }
                ssids.push_back(std::move(ssid));
            }
        }
        std::sort(ssids.begin(), ssids.end());
        return true;
    } catch (...) {
        return false;
    }
}
