#include "AveragePrecision.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace zor::eval {

std::vector<PrPoint> precisionRecallCurve(const std::vector<RankedDetection>& ranked, long groundTruth) {
    std::vector<PrPoint> curve;
    if (groundTruth <= 0) {
        return curve;
    }
    long truePositives = 0;
    curve.reserve(ranked.size());
    for (std::size_t i = 0; i < ranked.size(); ++i) {
        truePositives += ranked[i].truePositive ? 1 : 0;
        curve.push_back({static_cast<double>(truePositives) / static_cast<double>(groundTruth),
                         static_cast<double>(truePositives) / static_cast<double>(i + 1), ranked[i].confidence});
    }
    return curve;
}

std::vector<double> sampledPrecision(const std::vector<PrPoint>& curve, int intervals) {
    std::vector<double> monotone(curve.size());
    for (std::size_t i = curve.size(); i-- > 0;) {
        monotone[i] = i + 1 < curve.size() ? std::max(curve[i].precision, monotone[i + 1]) : curve[i].precision;
    }
    std::vector<double> samples(intervals > 0 ? static_cast<std::size_t>(intervals) + 1 : 0, 0.0);
    std::size_t at = 0;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        // k / intervals and tp / gt are both correctly rounded, so equal
        // fractions compare equal.
        const double recall = static_cast<double>(k) / intervals;
        while (at < curve.size() && curve[at].recall < recall) {
            ++at;
        }
        if (at == curve.size()) {
            break;
        }
        samples[k] = monotone[at];
    }
    return samples;
}

double interpolatedAveragePrecision(const std::vector<RankedDetection>& ranked, long groundTruth, int intervals) {
    if (groundTruth <= 0 || intervals <= 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const std::vector<double> samples = sampledPrecision(precisionRecallCurve(ranked, groundTruth), intervals);
    return std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
}

}  // namespace zor::eval
