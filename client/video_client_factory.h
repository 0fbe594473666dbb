// Picks the client class for a found device by the kind its discovery answer announced.
#pragma once

#include <memory>

#include "client/md_video_client.h"
#include "net/discovery_record.h"

enum DeviceKind : uint32_t { kDeviceKindSonix = 0, kDeviceKindZoderiv = 1 };

// A new, unconnected client for the record's kind; null for a kind no client serves.
std::unique_ptr<MdVideoClient> createVideoClient(const DiscoveryRecord& record,
                                                 MdVideoClientInterface* listener);
