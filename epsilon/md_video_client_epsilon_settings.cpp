// The Zoderiv car's settings: its Wi-Fi configuration, read once per connect and written on
// request, and the list of networks it sees. The car offers nothing else, so the remaining slots
// of the client interface do nothing here.
#include <algorithm>

#include "client/json_read.h"
#include "epsilon/md_video_client_epsilon.h"
#include "net/sleep.h"

using json_read::readInt;
using json_read::readString;

bool MdVideoClientEpsilon::getDeviceConfig() try {
    nlohmann::json params;
    int status = 0;
    nlohmann::json response;
    if (!sendJsonCommand("get_device_config", params, status, response)) {
        return false;
    }
    // Flags travel as integers; a car that sends JSON booleans is understood too.
    int autoChannel = 0;
    int channel = 0;
    int deviceMode = 0;
    std::string ssid;
    std::string password;
    std::string deviceSsid;
    std::string devicePassword;
    if (!readInt(response, "autoChannel", autoChannel) || !readInt(response, "channel", channel) ||
        !readString(response, "SSID", ssid) || !readString(response, "password", password) ||
        !readInt(response, "deviceMode", deviceMode) ||
        !readString(response, "deviceSSID", deviceSsid) ||
        !readString(response, "devicePassword", devicePassword)) {
        return false; // all or nothing
    }
    std::lock_guard lock(configMutex);
    wifiConfig.ssid = std::move(ssid);
    wifiConfig.password = std::move(password);
    wifiConfig.channel = channel;
    wifiConfig.autoChannel = autoChannel != 0;
    wifiConfig.deviceMode = deviceMode != 0;
    wifiConfig.deviceSsid = std::move(deviceSsid);
    wifiConfig.devicePassword = std::move(devicePassword);
    return true; // the mac is not part of this protocol: the cached one stays
} catch (...) {
    return false;
}

bool MdVideoClientEpsilon::setConfigWifi(const MdvConfigWifi& config) {
    try {
        if (!isConnected()) {
            return false; // nobody would send it, so the car could not be said to have it
        }
        // Held through the pause: a reader of the cache waits for the new settings rather than
        // seeing the ones being replaced.
        std::lock_guard lock(configMutex);
        const nlohmann::json params = {
            {"SSID", config.ssid},
            {"password", config.password},
            {"autoChannel", config.autoChannel ? 1 : 0},
            {"channel", config.channel},
            {"deviceMode", config.deviceMode ? 1 : 0},
            {"deviceSSID", config.deviceSsid},
            {"devicePassword", config.devicePassword},
        };
        // The car may drop the link while it applies new Wi-Fi settings, so its answer is not
        // awaited; the pause gives it time to take them before anything else is asked.
        if (!queueJsonCommand("set_wifi_config", params, nullptr)) {
            return false;
        }
        sleepMs(timing.wifiPauseMs);
        wifiConfig = config;
        return true;
    } catch (...) {
        return false;
    }
}

bool MdVideoClientEpsilon::getSsidList(std::vector<std::string>& ssids) {
    try {
        nlohmann::json params;
        int status = 0;
        nlohmann::json response;
        if (!sendJsonCommand("get_ssid_list", params, status, response)) {
            return false;
        }
        std::vector<std::string> names;
        const auto list = response.find("ssidList");
        if (list != response.end()) {
            if (!list->is_array()) {
                return false;
            }
            for (const nlohmann::json& element : *list) {
                std::string name;
                if (!json_read::asString(element, name)) {
                    return false;
                }
                names.push_back(std::move(name));
            }
        }
        std::sort(names.begin(), names.end()); // std::string compares bytes as unsigned
        ssids = std::move(names);
        return true;
    } catch (...) {
        return false;
    }
}

bool MdVideoClientEpsilon::setCameraSettings(const CameraSettings&) {
    return false;
}

bool MdVideoClientEpsilon::setCarConfig(const CarConfig&) {
    return false;
}

void MdVideoClientEpsilon::acknowledgeError(uint8_t) {}

bool MdVideoClientEpsilon::isFirmwareUpdateAvailable() {
    return false;
}

int32_t MdVideoClientEpsilon::updateFirmware(std::function<void(float)>) {
    return -1; // the callback goes with the argument, never called
}

std::vector<std::pair<std::string, std::string>> MdVideoClientEpsilon::getFirmwareVersions() {
    return {};
}

bool MdVideoClientEpsilon::sendWheelControl(float, float) {
    return false;
}
