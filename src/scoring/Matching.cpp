#include "Matching.h"

#include <algorithm>
#include <numeric>

namespace zor::eval {

std::vector<int> matchDetections(const std::vector<PredictedBox>& detections, const std::vector<cv::Rect2d>& truths,
                                 double iouThreshold) {
    return matchDetections(detections, truths, iouThreshold, {});
}

std::vector<int> matchDetections(const std::vector<PredictedBox>& detections, const std::vector<cv::Rect2d>& truths,
                                 double iouThreshold, const std::vector<bool>& ignored) {
    std::vector<std::size_t> order(detections.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return detections[a].confidence > detections[b].confidence; });
    std::vector<int> matches(detections.size(), -1);
    std::vector<bool> taken(truths.size(), false);
    for (const std::size_t d : order) {
        int chosen = -1;
        // Truths that count first; ignored ones only when none of those matches.
        for (const bool ignoredPass : {false, true}) {
            double best = iouThreshold;
            for (std::size_t g = 0; g < truths.size(); ++g) {
                const bool isIgnored = g < ignored.size() && ignored[g];
                if (taken[g] || isIgnored != ignoredPass) {
                    continue;
                }
                const double overlap = iou(detections[d].box, truths[g]);
                // >= for the first candidate so that IoU exactly at the threshold
                // matches; boxes that do not overlap never match, whatever the threshold.
                if (overlap > 0.0 && (chosen < 0 ? overlap >= best : overlap > best)) {
                    best = overlap;
                    chosen = static_cast<int>(g);
                }
            }
            if (chosen >= 0) {
                break;
            }
        }
        if (chosen >= 0) {
            taken[static_cast<std::size_t>(chosen)] = true;
            matches[d] = chosen;
        }
    }
    return matches;
}

}  // namespace zor::eval
