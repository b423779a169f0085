// Boxes in image pixels, as labelled and as detected, and their overlap.
#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace zor::eval {

// A ground-truth object, its class already mapped to a detector class name.
struct LabelledBox {
    std::string className;
    cv::Rect2d box;
};

// A box a detector predicted, with its confidence, as the scoring sees it.
struct PredictedBox {
    std::string className;
    float confidence = 0.0f;
    cv::Rect2d box;
};

// Intersection over union of two axis-aligned boxes (continuous coordinates,
// no +1 pixel convention); 0 when they only touch or either has no area.
double iou(const cv::Rect2d& a, const cv::Rect2d& b);

}  // namespace zor::eval
