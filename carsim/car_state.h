#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace carsim {

struct WifiSettings {
    bool autoChannel = true;
    int channel = 6;
    std::string ssid = "carsim"; // the car's own access point
    std::string password = "12345678";
    std::string mac = "02:44:52:56:4F:4E";
    bool deviceMode = false; // joined to another access point instead of being one
    std::string deviceSsid;  // empty: not set
    std::string devicePassword;
};

struct CameraSettings {
    int recordMinutes = 3;
    bool loopRecording = true;
    int powerFrequency = 50; // Hz
    int bitrate = 1572864;   // one of the device's bitrate table values
    bool wdr = false;
    int gop = 0;
    int resolution = 1;
    int fps = 30;
};

struct CarConfiguration {
    bool drivingBrake = true;
    bool idleDisable = false;
    bool gyroSteeringDefaultState = false;
    bool controllerPairingEnabled = false;
    bool gyroSteeringEnabled = false;
    bool motorsDisengaged = false;
};

struct SdCard {
    bool present = true;
    int totalSpace = 30436; // units of 1024 bytes
    int freePercent = 87;
};

struct Microcontroller {
    int hwType = 1;
    int fwMajor = 2;
    int fwMinor = 5;
};

// An uploaded image and its installation.
struct FirmwareState {
    int64_t announcedSize = -1;
    int64_t receivedSize = 0;
    bool transferComplete = false;
    bool installing = false;
    std::chrono::steady_clock::time_point installStart{};
    int installsDone = 0;
};

struct CarSettings {
    WifiSettings wifi;
    CameraSettings camera;
    CarConfiguration car;
    SdCard sd;
    Microcontroller mcu;
    FirmwareState firmware;
    std::string videoFirmwareVersion = "V_2.10.00_37B_X_Y";
    std::vector<std::string> visibleNetworks = {"Office-5G", "HomeNet", "CafeFree", "HomeNet"};
    std::string clock;          // last time the client set, as it sent it
    uint8_t errorFlags = 0;     // cleared by acknowledgements
    uint8_t deviceFlags = 0x09; // bits 0 and 3: a card is in and readable
    struct Wheel {
        int32_t x = 0, y = 0;
        uint64_t packets = 0;
    } wheel;
};

// The car's settings and status, shared by every endpoint. Settings outlive a vanish.
class CarState {
public:
    explicit CarState(CarSettings initial);

    CarSettings snapshot() const;
    template <typename F>
    auto update(F change) {
        std::lock_guard lock(mutex);
        return change(settings);
    }

    // The 5 status bytes of a heartbeat: a running count, the signal quality and the battery
    // level change over time; then the steering/motor bits and the device flags.
    std::array<uint8_t, 5> statusBytes();

private:
    mutable std::mutex mutex;
    CarSettings settings; // guarded by mutex
    uint32_t beats = 0;   // guarded by mutex
    const std::chrono::steady_clock::time_point started;
};

std::string toHex(const uint8_t* data, size_t size);

} // namespace carsim
