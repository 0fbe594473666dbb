// The listener a device client reports to. The client does not own it; it must outlive the
// client. Every operation is called on one of the client's own threads.
#pragma once

#include <cstdint>
#include <vector>

#include "client/mdv_records.h"

class MdVideoClientInterface {
public:
    // After the connection has been taken down, on the client's worker thread.
    virtual void onDisconnected() = 0;
    // Whenever a new status block is complete; the record is a consistent copy.
    virtual void onTelemetry(const MdvTelemetry& telemetry) = 0;
    // Once per access unit (one H.264 slice in Annex B form, parameter sets before an IDR slice).
    virtual void onVideoFrame(int32_t frameNumber, int64_t timestamp,
                              const std::vector<uint8_t>& accessUnit) = 0;
    // Once a second from the statistics reporter, with the collector's lock held: it must not
    // call back into the collector. Returning true asks the collector to reset its counters.
    virtual bool onStatistics(const MdvStreamStats& stats) = 0;

protected:
    ~MdVideoClientInterface() = default;
};
