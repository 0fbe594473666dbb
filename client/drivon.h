// The link a source instance owns for one device, and the scan that lists the devices: what
// sits between the source's session loop and a concrete device client.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/discovery_record.h"

class DrivonInternal;

// One discovery pass: fills the records found, true when there is at least one. Tests give
// their own; the product always runs the real one.
using DiscoverDevices = std::function<bool(std::vector<DiscoveryRecord>& records)>;

// The real pass: the car's own address and every private subnet's broadcast, for 1000 ms.
bool discoverCars(std::vector<DiscoveryRecord>& records);

// Lists the devices of one discovery pass in the order found; true when there is at least one.
bool scanDevices(std::vector<DeviceEntry>& list, const DiscoverDevices& discover = discoverCars);

class Drivon {
public:
    static constexpr const char* kCarAddress = "192.168.99.1";
    static constexpr int kDiscoveryTimeoutMs = 1000;

    // Frames of the connected device reach the source instance through this.
    class DrivonClientInterface {
    public:
        virtual void onVideoFrame(int32_t frameNumber, int64_t timestamp,
                                  const std::vector<uint8_t>& accessUnit) = 0;

    protected:
        ~DrivonClientInterface() = default;
    };

    // Discovers again and links the device whose name and address both match the entry,
    // building the client for its kind; null when it is gone, has changed its address, is of
    // an unknown kind, or the statistics collector cannot be made. Every creation gives the
    // module a fresh statistics collector.
    static std::unique_ptr<Drivon> create(const DeviceEntry& entry, DrivonClientInterface* target,
                                          const DiscoverDevices& discover = discoverCars);
    // Releases the client; its destructor takes a connection that is still up down first.
    virtual ~Drivon();
    Drivon(const Drivon&) = delete;
    Drivon& operator=(const Drivon&) = delete;

    // Connects and starts the video stream; false (and nothing left connected) otherwise.
    bool connect();
    bool isConnected() const;
    // Ends the connection and waits until the client has taken it down.
    void disconnect();

private:
    explicit Drivon(std::unique_ptr<DrivonInternal> internal);

    std::unique_ptr<DrivonInternal> internal;
};
