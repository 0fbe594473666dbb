#include "source/claim_set.h"

std::optional<DeviceEntry>
ClaimSet::claimFirstFree(const std::vector<DeviceEntry>& list,
                         const std::function<bool(const DeviceEntry&)>& avoid,
                         std::vector<std::string>& inUse) {
    std::lock_guard lock(claimMutex);
    const DeviceEntry* fallback = nullptr;
    const DeviceEntry* chosen = nullptr;
    for (const DeviceEntry& entry : list) {
        if (claimedDevices.count(entry.name) != 0) {
            inUse.push_back(entry.name);
        } else if (avoid && avoid(entry)) {
            if (fallback == nullptr) {
                fallback = &entry;
            }
        } else {
            chosen = &entry;
            break;
        }
    }
    if (chosen == nullptr) {
        chosen = fallback;
    }
    if (chosen == nullptr) {
        return std::nullopt;
    }
    claimedDevices.insert(chosen->name);
    return *chosen;
}

void ClaimSet::release(const std::string& name) {
    std::lock_guard lock(claimMutex);
    claimedDevices.erase(name);
}

bool ClaimSet::isClaimed(const std::string& name) const {
    std::lock_guard lock(claimMutex);
    return claimedDevices.count(name) != 0;
}

ClaimSet& moduleClaimSet() {
    // Made at the first use, after the module's namespace-scope objects; destroyed at unload.
    static ClaimSet claims;
    return claims;
}
