#include "carsim/media/fault_injector.h"

namespace carsim {

FaultInjector::FaultInjector(const MediaOptions& options)
    : lossPercent_(options.lossPercent), burstLength_(options.burstLength),
      burstPercent_(options.burstPercent), duplicatePercent_(options.duplicatePercent),
      reorderPercent_(options.reorderPercent), random_(options.seed) {}

// The draw is made from the raw generator output so that every standard library gives the
// same sequence for a seed.
bool FaultInjector::chance(double percent) {
    if (percent <= 0) {
        return false;
    }
    return static_cast<double>(random_()) / 4294967296.0 * 100.0 < percent;
}

bool FaultInjector::drop() {
    if (burstLeft_ > 0) {
        --burstLeft_;
        return true;
    }
    if (burstLength_ > 0 && chance(burstPercent_)) {
        burstLeft_ = burstLength_ - 1;
        return true;
    }
    return chance(lossPercent_);
}

void FaultInjector::apply(std::vector<Bytes> datagrams, std::vector<Bytes>& out) {
    for (Bytes& datagram : datagrams) {
        if (drop()) {
            ++counts_.dropped;
            continue;
        }
        const bool duplicate = chance(duplicatePercent_);
        if (held_) {
            out.push_back(datagram);
            if (duplicate) {
                ++counts_.duplicated;
                out.push_back(datagram);
            }
            out.push_back(std::move(*held_));
            held_.reset();
            continue;
        }
        if (chance(reorderPercent_)) {
            ++counts_.reordered;
            held_ = std::move(datagram);
            continue;
        }
        out.push_back(datagram);
        if (duplicate) {
            ++counts_.duplicated;
            out.push_back(std::move(datagram));
        }
    }
}

} // namespace carsim
