// The devices the module's source instances have claimed, by name, so that no two instances
// use one car. Module-wide; its lock is held only for the look-ups and changes themselves.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "net/discovery_record.h"

class ClaimSet {
public:
    // Walks the list in order and claims the first device whose name nobody has claimed,
    // passing over those `avoid` names as long as a later free device is listed (a passed-over
    // one is still taken when nothing else is free). The names found claimed before the chosen
    // one (all of them when none is free) are added to `inUse`, in list order.
    std::optional<DeviceEntry> claimFirstFree(const std::vector<DeviceEntry>& list,
                                              const std::function<bool(const DeviceEntry&)>& avoid,
                                              std::vector<std::string>& inUse);
    void release(const std::string& name);
    bool isClaimed(const std::string& name) const;

private:
    mutable std::mutex claimMutex;
    std::set<std::string> claimedDevices; // guarded by claimMutex
};

// The module's one claim set.
ClaimSet& moduleClaimSet();
