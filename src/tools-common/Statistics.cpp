#include "Statistics.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

namespace zor::tools {

namespace {

void sortChecked(std::vector<double>& samples) {
    if (samples.empty()) {
        throw std::invalid_argument("no samples");
    }
    if (std::any_of(samples.begin(), samples.end(), [](double s) { return std::isnan(s); })) {
        throw std::invalid_argument("a sample is not a number");
    }
    std::sort(samples.begin(), samples.end());
}

double percentileOfSorted(const std::vector<double>& sorted, double p) {
    if (!(p >= 0.0 && p <= 100.0)) {
        throw std::invalid_argument("percentile outside [0, 100]");
    }
    const double rank = p / 100.0 * static_cast<double>(sorted.size() - 1);
    const auto lower = static_cast<std::size_t>(std::floor(rank));
    const std::size_t upper = std::min(lower + 1, sorted.size() - 1);
    const double fraction = rank - static_cast<double>(lower);
    return sorted[lower] + fraction * (sorted[upper] - sorted[lower]);
}

}  // namespace

double percentile(std::vector<double> samples, double p) {
    sortChecked(samples);
    return percentileOfSorted(samples, p);
}

LatencySummary summarize(std::vector<double> samples) {
    sortChecked(samples);
    LatencySummary summary;
    summary.count = samples.size();
    summary.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
    summary.min = samples.front();
    summary.p50 = percentileOfSorted(samples, 50.0);
    summary.p90 = percentileOfSorted(samples, 90.0);
    summary.p99 = percentileOfSorted(samples, 99.0);
    summary.max = samples.back();
    return summary;
}

Spread spreadOf(std::vector<double> values) {
    sortChecked(values);
    Spread spread;
    spread.count = values.size();
    spread.mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
    spread.median = percentileOfSorted(values, 50.0);
    spread.min = values.front();
    spread.max = values.back();
    if (values.size() > 1) {
        double squares = 0.0;
        for (const double value : values) {
            squares += (value - spread.mean) * (value - spread.mean);
        }
        spread.stddev = std::sqrt(squares / static_cast<double>(values.size() - 1));
    }
    return spread;
}

}  // namespace zor::tools
