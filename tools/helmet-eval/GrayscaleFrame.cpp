#include "GrayscaleFrame.h"

#include <opencv2/imgproc.hpp>

namespace zor::eval {

cv::Mat grayscaleFrame(const cv::Mat& frame) {
    cv::Mat gray;
    if (frame.channels() == 1) {
        gray = frame;
    } else {
        cv::cvtColor(frame, gray, frame.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    }
    cv::Mat result;
    cv::cvtColor(gray, result, cv::COLOR_GRAY2BGR);
    return result;
}

}  // namespace zor::eval
