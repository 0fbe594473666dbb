// Records that cross the device client interface: settings sent to and read from a device, the
// device status block and the stream statistics snapshot.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Wi-Fi settings of a device (cached by the client after every read or accepted change).
struct MdvConfigWifi {
    bool autoChannel = false;
    int32_t channel = 0;
    std::string ssid;
    std::string password;
    std::string mac; // read from the device, never sent
    bool deviceMode = false;
    std::string deviceSsid;
    std::string devicePassword;
};

struct CameraSettings {
    int bitrateLevel = 0; // 0 to 3, or -1 for a bitrate the device reports outside the table
    bool wdr = false;
    bool loopRecording = false;
    int recordMinutes = 0;
    int powerFrequency = 0; // 1 = 60 Hz, 2 = 50 Hz
};

struct CarConfig {
    bool drivingBrake = false;
    bool idleDisable = false;
    bool gyroSteeringDefaultState = false;
    bool controllerPairingEnabled = false;
    // Whether setCarConfig sends the two values below or keeps the device's current ones.
    bool applyDisengageMotors = false;
    bool applyGyroSteering = false;
    bool disengageMotors = false;
    bool gyroSteeringEnabled = false;
};

// The device status block, written by the heartbeat and the slice trailer. A default-constructed
// record is the state "no device": everything 0 except statusByte2.
struct MdvTelemetry {
    bool deviceFlag1 = false;
    bool deviceFlag0 = false;
    bool deviceFlag2 = false;
    bool deviceFlag3 = false;
    bool deviceFlag4 = false;
    int32_t sdSpace = 0;
    int32_t sdTotal = 0;
    float trailerFloat0 = 0.0f;
    float trailerFloat1 = 0.0f;
    float trailerFloat2 = 0.0f;
    int32_t trailerInt0 = 0;
    int32_t trailerInt1 = 0;
    int32_t trailerInt2 = 0;
    uint32_t statusByte1 = 0;
    uint32_t statusByte2 = 100;
    int32_t trailerSigned0 = 0;
    int32_t trailerSigned1 = 0;
    uint8_t trailerByte0 = 0;
    uint8_t trailerByte1 = 0;
    uint8_t trailerByte2 = 0;
    uint8_t trailerByte3 = 0;
    uint8_t statusByte0 = 0;
    uint32_t trailerWord = 0;
    bool statusFlag0 = false;
    bool gyroSteeringEnabled = false;
    bool motorsDisengaged = false;
};

// One statistics report; the meaning of each word is given by StreamStatsCollector.
struct MdvStreamStats {
    std::array<uint32_t, 8> words{};
};
