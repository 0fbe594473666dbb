// The listener of a linked device's client on the source path: frames go on to the source
// instance, everything else is not needed there.
#pragma once

#include <memory>

#include "client/drivon.h"
#include "client/md_video_client.h"
#include "client/md_video_client_interface.h"
#include "net/discovery_record.h"

// Final and owned only through unique_ptr<DrivonInternal>; its interface's destructor is
// protected, so a non-virtual destructor is safe here.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class DrivonInternal final : public MdVideoClientInterface {
public:
    DrivonInternal(Drivon::DrivonClientInterface* target, DiscoveryRecord record)
        : target(target), record(std::move(record)) {}

    void onDisconnected() override {}
    void onTelemetry(const MdvTelemetry&) override {}
    void onVideoFrame(int32_t frameNumber, int64_t timestamp,
                      const std::vector<uint8_t>& accessUnit) override {
        target->onVideoFrame(frameNumber, timestamp, accessUnit);
    }
    // Never asks for a reset: the event counters add up over the whole connection.
    bool onStatistics(const MdvStreamStats&) override { return false; }

    Drivon::DrivonClientInterface* const target; // not owned
    const DiscoveryRecord record;
    std::unique_ptr<MdVideoClient> client;
};
