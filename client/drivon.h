// The link a source instance owns for one device. The connect/scan half arrives with the device
// session loop; for now it carries the one-operation frame callback the source implements.
#pragma once

#include <cstdint>
#include <vector>

class Drivon {
public:
    // Frames of the connected device reach the source instance through this.
    class DrivonClientInterface {
    public:
        virtual void onVideoFrame(int32_t frameNumber, int64_t timestamp,
                                  const std::vector<uint8_t>& accessUnit) = 0;

    protected:
        ~DrivonClientInterface() = default;
    };
};
