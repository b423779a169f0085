// Post-processing: turns the network's raw head into scored boxes and removes
// overlapping boxes.
#pragma once

#include "ModelManifest.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace zor::hmd {

// One scored box in network-input pixels.
struct Candidate {
    int classId = 0;
    float confidence = 0.0f;
    cv::Rect2f box;
};

// Empty when `output` has the shape that `layout` and `classCount` call for,
// otherwise why it does not.
std::string describeShapeMismatch(const cv::Mat& output, OutputLayout layout, int classCount);

// Candidates scoring at least `minConfidence`, scores clamped to [0, 1]. The
// output must have passed describeShapeMismatch.
std::vector<Candidate> decodeOutput(const cv::Mat& output, OutputLayout layout, int classCount, float minConfidence);

// Non-maximum suppression within each class, or across all classes for
// ClassAgnostic; the survivors ordered by confidence, highest first.
std::vector<Candidate> suppressOverlaps(const std::vector<Candidate>& candidates, float iouThreshold,
                                        SuppressionScope scope = SuppressionScope::PerClass);

}  // namespace zor::hmd
