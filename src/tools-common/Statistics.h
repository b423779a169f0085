// Order statistics of samples (per-call latencies, confidences): small pure
// functions. One convention everywhere: a percentile p is in [0, 100], and no
// samples, a NaN sample or p outside [0, 100] throw std::invalid_argument.
#pragma once

#include <cstddef>
#include <vector>

namespace zor::tools {

// The p-th percentile (p in [0, 100]) of `samples`, given in any order:
// linear interpolation between the two nearest ranks, so that p = 0 is the
// smallest sample, p = 100 the largest and p = 50 the median. Throws
// std::invalid_argument for no samples, a NaN sample or p outside [0, 100].
double percentile(std::vector<double> samples, double p);

struct LatencySummary {
    std::size_t count = 0;
    double mean = 0.0;
    double min = 0.0;
    double p50 = 0.0;
    double p90 = 0.0;
    double p99 = 0.0;
    double max = 0.0;
};

// Count, mean and order statistics of `samples` (same rules as percentile).
LatencySummary summarize(std::vector<double> samples);

// How one figure varies over repeated runs.
struct Spread {
    std::size_t count = 0;
    double mean = 0.0;
    double median = 0.0;
    double stddev = 0.0;  // sample standard deviation; 0 for a single run
    double min = 0.0;
    double max = 0.0;
};

// The spread of `values` (same rules as percentile).
Spread spreadOf(std::vector<double> values);

}  // namespace zor::tools
