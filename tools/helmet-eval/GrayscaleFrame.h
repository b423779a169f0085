// What an infrared or night camera gives: the same frame without colour, still
// three channels, as the detector is given every frame.
#pragma once

#include <opencv2/core.hpp>

namespace zor::eval {

// BGR -> GRAY -> BGR: three equal channels (a one- or four-channel frame
// likewise ends as three equal channels).
cv::Mat grayscaleFrame(const cv::Mat& frame);

}  // namespace zor::eval
