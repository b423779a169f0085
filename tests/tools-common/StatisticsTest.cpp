#include "Statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

using zor::tools::percentile;
using zor::tools::summarize;

// 1, 2, ..., n
std::vector<double> oneTo(int n) {
    std::vector<double> samples;
    for (int i = 1; i <= n; ++i) {
        samples.push_back(i);
    }
    return samples;
}

TEST(Percentile, InterpolatesBetweenNearestRanks) {
    // rank = p/100 * (n - 1) over the sorted samples
    const std::vector<double> samples = oneTo(100);
    EXPECT_DOUBLE_EQ(percentile(samples, 50.0), 50.5);
    EXPECT_DOUBLE_EQ(percentile(samples, 90.0), 90.1);
    EXPECT_DOUBLE_EQ(percentile(samples, 99.0), 99.01);
    EXPECT_DOUBLE_EQ(percentile({10.0, 20.0}, 25.0), 12.5);
    EXPECT_DOUBLE_EQ(percentile({1.0, 2.0, 3.0, 4.0}, 50.0), 2.5);
    EXPECT_DOUBLE_EQ(percentile({1.0, 2.0, 3.0, 4.0, 5.0}, 50.0), 3.0);
}

TEST(Percentile, EndsAreMinimumAndMaximum) {
    const std::vector<double> samples{7.0, -3.0, 12.5, 0.0};
    EXPECT_DOUBLE_EQ(percentile(samples, 0.0), -3.0);
    EXPECT_DOUBLE_EQ(percentile(samples, 100.0), 12.5);
}

TEST(Percentile, OneSampleIsEveryPercentile) {
    for (const double p : {0.0, 1.0, 50.0, 99.0, 100.0}) {
        EXPECT_DOUBLE_EQ(percentile({4.25}, p), 4.25) << "p = " << p;
    }
}

TEST(Percentile, OrderOfInputDoesNotMatter) {
    const std::vector<double> shuffled{9.0, 1.0, 8.0, 2.0, 7.0, 3.0, 6.0, 4.0, 5.0, 5.0};
    std::vector<double> sorted = shuffled;
    std::sort(sorted.begin(), sorted.end());
    for (const double p : {0.0, 10.0, 33.0, 50.0, 90.0, 99.0, 100.0}) {
        EXPECT_DOUBLE_EQ(percentile(shuffled, p), percentile(sorted, p)) << "p = " << p;
    }
    EXPECT_DOUBLE_EQ(percentile(shuffled, 50.0), 5.0);
    EXPECT_DOUBLE_EQ(percentile({3.0, 1.0, 2.0}, 50.0), 2.0);
}

TEST(Percentile, RejectsWhatHasNoAnswer) {
    EXPECT_THROW(percentile({}, 50.0), std::invalid_argument);
    EXPECT_THROW(percentile({1.0}, -0.1), std::invalid_argument);
    EXPECT_THROW(percentile({1.0}, 100.1), std::invalid_argument);
    EXPECT_THROW(percentile({1.0}, std::nan("")), std::invalid_argument);
    EXPECT_THROW(percentile({1.0, std::nan(""), 2.0}, 50.0), std::invalid_argument);
    EXPECT_THROW(summarize({}), std::invalid_argument);
}

TEST(Summarize, AgreesWithPercentileOnUnsortedSamples) {
    const std::vector<double> samples{5.0, 1.0, 30.0, 2.0, 4.0, 3.0, 100.0, 6.0, 7.0, 8.0, 9.0};
    const zor::tools::LatencySummary summary = summarize(samples);
    EXPECT_EQ(summary.count, samples.size());
    EXPECT_DOUBLE_EQ(summary.mean, 175.0 / 11.0);
    EXPECT_DOUBLE_EQ(summary.min, 1.0);
    EXPECT_DOUBLE_EQ(summary.max, 100.0);
    EXPECT_DOUBLE_EQ(summary.p50, percentile(samples, 50.0));
    EXPECT_DOUBLE_EQ(summary.p90, percentile(samples, 90.0));
    EXPECT_DOUBLE_EQ(summary.p99, percentile(samples, 99.0));
    EXPECT_LE(summary.p50, summary.p90);
    EXPECT_LE(summary.p90, summary.p99);
    EXPECT_LE(summary.p99, summary.max);

    const zor::tools::LatencySummary single = summarize({2.5});
    EXPECT_EQ(single.count, 1u);
    EXPECT_DOUBLE_EQ(single.mean, 2.5);
    EXPECT_DOUBLE_EQ(single.min, 2.5);
    EXPECT_DOUBLE_EQ(single.p99, 2.5);
    EXPECT_DOUBLE_EQ(single.max, 2.5);
}

}  // namespace
