#pragma once

#include <optional>
#include <random>

#include "carsim/media/annexb.h"
#include "carsim/media/media_options.h"

namespace carsim {

// Spoils the datagram stream the way a poor Wi-Fi link does: random and burst loss,
// duplication, and reordering (a datagram held back and sent after the next one). The same
// seed gives the same faults.
class FaultInjector {
public:
    explicit FaultInjector(const MediaOptions& options);

    // Passes datagrams through in order, appending what goes out to out. A held-back datagram
    // may leave with the next call.
    void apply(std::vector<Bytes> datagrams, std::vector<Bytes>& out);

    struct Counts {
        uint64_t dropped = 0;
        uint64_t duplicated = 0;
        uint64_t reordered = 0;
    };
    const Counts& counts() const { return counts_; }

private:
    bool chance(double percent);
    bool drop();

    double lossPercent_;
    int burstLength_;
    double burstPercent_;
    double duplicatePercent_;
    double reorderPercent_;
    std::mt19937 random_;
    int burstLeft_ = 0;
    std::optional<Bytes> held_;
    Counts counts_;
};

} // namespace carsim
