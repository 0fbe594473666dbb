#include "bench/live/distribution.h"

#include <algorithm>
#include <cmath>

namespace {
double rank(const std::vector<int64_t>& sorted, double fraction) {
    const auto at = static_cast<size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return static_cast<double>(sorted[std::clamp<size_t>(at, 1, sorted.size()) - 1]) / 1e6;
}
} // namespace

Distribution distributionOf(std::vector<int64_t> nanoseconds) {
    Distribution d;
    if (nanoseconds.empty()) {
        return d;
    }
    std::sort(nanoseconds.begin(), nanoseconds.end());
    d.count = nanoseconds.size();
    d.p50 = rank(nanoseconds, 0.50);
    d.p99 = rank(nanoseconds, 0.99);
    d.max = static_cast<double>(nanoseconds.back()) / 1e6;
    return d;
}
