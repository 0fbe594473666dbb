// The device session loop: each source instance's device thread finds a car, claims it against
// the module's other instances, links and connects it, watches the connection while video
// streams, and starts over when the car goes away.
#include <pthread.h>

#include "source/claim_set.h"
#include "source/drivon_client.h"

namespace {
constexpr uint64_t kPauseNs = 50'000'000; // on the host clock

void pauseBriefly() {
    os_sleepto_ns(os_gettime_ns() + kPauseNs);
}
} // namespace

void DrivonClient::deviceLoop() noexcept {
    pthread_setname_np(pthread_self(), "drivon-device");
    while (running) {
        try {
            runOneCycle();
        } catch (...) {
            // Out of memory somewhere in a cycle: give the system a moment, then start over.
            state = SourceState::Scanning;
            pauseBriefly();
        }
    }
}

void DrivonClient::runOneCycle() {
    state = SourceState::Scanning;
    std::vector<DeviceEntry> devices;
    if (!scanDevices(devices)) {
        blog(LOG_DEBUG, "[drivon] no Drivon devices found");
        pauseBriefly();
        return;
    }

    std::vector<std::string> inUse;
    const uint64_t now = os_gettime_ns();
    const std::optional<DeviceEntry> claimed = moduleClaimSet().claimFirstFree(
        devices, [&](const DeviceEntry& entry) { return passedOver.contains(entry, now); },
        inUse);
    for (const std::string& name : inUse) {
        blog(LOG_DEBUG, "[drivon] Device %s is being used by another instance, skipping",
             name.c_str());
    }
    if (!claimed) {
        // The next scan's own waiting paces the loop.
        blog(LOG_DEBUG, "[drivon] Couldn't find suitable device, continuing scan..");
        return;
    }

    state = SourceState::Connecting;
    link = Drivon::create(*claimed, this);
    if (!link) {
        // The car vanished since the scan, or announces a kind no client serves. Scanning goes
        // on, passing this device over for a while if others are listed.
        blog(LOG_WARNING, "[drivon] couldnt create client");
        passedOver.add(*claimed, os_gettime_ns());
        releaseAndPause(claimed->name);
        return;
    }

    const bool ok = link->connect();
    blog(LOG_DEBUG, "[drivon] connect: %d", ok ? 1 : 0);
    if (!ok) {
        blog(LOG_WARNING, "[drivon] couldnt connect to any Drivon");
        link.reset();
        releaseAndPause(claimed->name);
        return;
    }

    state = SourceState::Streaming;
    while (running && link->isConnected()) {
        pauseBriefly();
    }
    link->disconnect();
    moduleClaimSet().release(claimed->name);
}

void DrivonClient::releaseAndPause(const std::string& name) {
    moduleClaimSet().release(name);
    pauseBriefly();
}
