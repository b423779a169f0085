// Precision-recall curve of one class as a picture for people.
#pragma once

#include "Evaluator.h"

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>

namespace zor::eval {

// The curve at IoU 0.5 and its 101-point interpolation, with axes, the AP in
// the title and the point at the operating threshold.
cv::Mat plotPrecisionRecall(const ClassFigures& figures, double operatingThreshold);

// "pr-<class>.png", with characters other than letters, digits, '-', '_' and '.' as '_'.
std::string curveFileName(const std::string& className);

// Throws std::runtime_error when it cannot be written.
void writeCurves(const std::filesystem::path& folder, const std::vector<ClassFigures>& classes,
                 double operatingThreshold);

}  // namespace zor::eval
