// Median, 99th percentile and maximum of a set of durations, in milliseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Distribution {
    size_t count = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
};

// Nearest-rank percentiles of the durations given in nanoseconds; all zero when empty.
Distribution distributionOf(std::vector<int64_t> nanoseconds);
