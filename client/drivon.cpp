#include "client/drivon.h"

#include <cstring>
#include <new>

#include "client/drivon_internal.h"
#include "client/stream_stats_collector.h"
#include "client/video_client_factory.h"
#include "net/discovery.h"

bool discoverCars(std::vector<DiscoveryRecord>& records) {
    return discoverDevices(records, Drivon::kCarAddress, true, Drivon::kDiscoveryTimeoutMs);
}

bool scanDevices(std::vector<DeviceEntry>& list, const DiscoverDevices& discover) {
    list.clear();
    std::vector<DiscoveryRecord> records;
    if (!discover(records) || records.empty()) {
        return false;
    }
    for (const DiscoveryRecord& record : records) {
        list.push_back(DeviceEntry{record.name, record.address});
    }
    return true;
}

std::unique_ptr<Drivon> Drivon::create(const DeviceEntry& entry, DrivonClientInterface* target,
                                       const DiscoverDevices& discover) {
    std::vector<DiscoveryRecord> records;
    if (!discover(records)) {
        return nullptr;
    }
    // The same device: same name, and the same address byte for byte (a device that answered
    // from another address since the scan is not the one that was claimed).
    const DiscoveryRecord* found = nullptr;
    for (const DiscoveryRecord& record : records) {
        if (record.name == entry.name &&
            std::memcmp(&record.address, &entry.address, sizeof(entry.address)) == 0) {
            found = &record;
            break;
        }
    }
    if (found == nullptr) {
        return nullptr;
    }
    auto internal = std::make_unique<DrivonInternal>(target, *found);
    internal->client = createVideoClient(internal->record, internal.get());
    if (!internal->client) {
        return nullptr;
    }
    std::unique_ptr<Drivon> link(new Drivon(std::move(internal)));
    if (!StreamStatsCollector::replaceCurrent()) {
        return nullptr;
    }
    return link;
}

Drivon::Drivon(std::unique_ptr<DrivonInternal> internal) : internal(std::move(internal)) {}

Drivon::~Drivon() {
    // The client first: its destructor may still deliver to the internal listener.
    internal->client.reset();
}

bool Drivon::connect() {
    MdVideoClient& client = *internal->client;
    if (client.connect(internal->record.address) != MdvErrorNone) {
        return false;
    }
    if (client.startStreamingIfConnected() == 0) {
        return true;
    }
    client.disconnect();
    return false;
}

bool Drivon::isConnected() const {
    return internal->client->isConnected();
}

void Drivon::disconnect() {
    internal->client->disconnect();
}
