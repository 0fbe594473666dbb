#include "media/fec/decode_plan_cache.h"

#include <algorithm>

namespace {

// Every single-loss pattern of frames of up to a few hundred packets fits, and a plan holds at
// most 128 x 128 coefficients, so the store stays below a few MiB in the worst case.
constexpr size_t kSharedCapacity = 512;

} // namespace

DecodePlanCache::DecodePlanCache(size_t capacity) : capacity_(std::max<size_t>(capacity, 1)) {}

DecodePlanCache& DecodePlanCache::shared() {
    static DecodePlanCache cache(kSharedCapacity);
    return cache;
}

size_t DecodePlanCache::size() const {
    std::lock_guard lock(mutex_);
    return recent_.size();
}

std::shared_ptr<const DecodePlan> DecodePlanCache::find(const std::string& key,
                                                        const Builder& build) {
    {
        std::lock_guard lock(mutex_);
        auto found = byKey_.find(key);
        if (found != byKey_.end()) {
            recent_.splice(recent_.begin(), recent_, found->second);
            return found->second->second;
        }
    }
    std::shared_ptr<const DecodePlan> plan = build();
    if (!plan) {
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    auto found = byKey_.find(key);
    if (found != byKey_.end()) {
        recent_.splice(recent_.begin(), recent_, found->second);
        return found->second->second;
    }
    recent_.emplace_front(key, plan);
    byKey_.emplace(key, recent_.begin());
    while (recent_.size() > capacity_) {
        byKey_.erase(recent_.back().first);
        recent_.pop_back();
    }
    return plan;
}
