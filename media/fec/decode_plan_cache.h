// A bounded store of decode plans by erasure pattern, shared by every receiver of the process.
// Plans are immutable and handed out by shared ownership, so a plan evicted while another
// thread applies it lives until that thread lets go.
#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "media/fec/decode_plan.h"

class DecodePlanCache {
public:
    using Builder = std::function<std::shared_ptr<const DecodePlan>()>;

    explicit DecodePlanCache(size_t capacity);
    DecodePlanCache(const DecodePlanCache&) = delete;
    DecodePlanCache& operator=(const DecodePlanCache&) = delete;

    // The plan stored under key, or the one `build` makes (stored unless it is none). The
    // builder runs without the lock held; two threads missing the same key at once may both
    // build, and the first to store wins. The least recently used plan leaves when full.
    std::shared_ptr<const DecodePlan> find(const std::string& key, const Builder& build);

    size_t size() const;
    size_t capacity() const { return capacity_; }

    // The store recoverFrame uses. Per-frame patterns repeat across frames of one stream (one
    // lost packet at a handful of positions), and across receivers of the same car model.
    static DecodePlanCache& shared();

private:
    using Entry = std::pair<std::string, std::shared_ptr<const DecodePlan>>;

    const size_t capacity_;
    mutable std::mutex mutex_;
    std::list<Entry> recent_; // most recently used first; guarded by mutex_
    // Guarded by mutex_; its iterators point into recent_.
    std::unordered_map<std::string, std::list<Entry>::iterator> byKey_;
};
