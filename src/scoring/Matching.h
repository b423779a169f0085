// Detections matched to ground truth in one image and class, as COCO does.
#pragma once

#include "Boxes.h"

#include <vector>

namespace zor::eval {

// Takes the detections in descending confidence (ties: in the given order);
// each takes the unmatched box with the highest IoU >= `iouThreshold` (ties:
// the first such box). Returns, per detection in the given order, the index
// of its box in `truths`, or -1 for a false positive.
std::vector<int> matchDetections(const std::vector<PredictedBox>& detections, const std::vector<cv::Rect2d>& truths,
                                 double iouThreshold);

// The same with truths that are ignored (COCO's area ranges): a detection
// takes a truth that is not ignored if it can, and only then an ignored one
// (which it then uses up). An empty `ignored` ignores none.
std::vector<int> matchDetections(const std::vector<PredictedBox>& detections, const std::vector<cv::Rect2d>& truths,
                                 double iouThreshold, const std::vector<bool>& ignored);

}  // namespace zor::eval
