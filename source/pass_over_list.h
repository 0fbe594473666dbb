// Devices (name and address) this source instance could not link, each passed over for a while
// so that one device that keeps failing cannot starve the others.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "net/discovery_record.h"

class PassOverList {
public:
    static constexpr uint64_t kPassOverNs = 10'000'000'000; // 10 s on the host clock

    void add(const DeviceEntry& entry, uint64_t nowNs) {
        forget(entry);
        entries.push_back({entry, nowNs + kPassOverNs});
    }

    bool contains(const DeviceEntry& entry, uint64_t nowNs) {
        std::erase_if(entries, [nowNs](const Item& item) { return item.until <= nowNs; });
        for (const Item& item : entries) {
            if (same(item.entry, entry)) {
                return true;
            }
        }
        return false;
    }

private:
    struct Item {
        DeviceEntry entry;
        uint64_t until;
    };

    static bool same(const DeviceEntry& a, const DeviceEntry& b) {
        return a.name == b.name && std::memcmp(&a.address, &b.address, sizeof(a.address)) == 0;
    }
    void forget(const DeviceEntry& entry) {
        std::erase_if(entries, [&](const Item& item) { return same(item.entry, entry); });
    }

    std::vector<Item> entries;
};
