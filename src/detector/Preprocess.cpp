#include "Preprocess.h"

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace zor::hmd {

Letterbox Letterbox::fit(cv::Size frameSize, cv::Size inputSize) {
    Letterbox letterbox;
    letterbox.frameSize = frameSize;
    letterbox.scale = std::min(static_cast<double>(inputSize.width) / frameSize.width,
                               static_cast<double>(inputSize.height) / frameSize.height);
    letterbox.scaledSize =
        cv::Size(std::clamp(static_cast<int>(std::lround(frameSize.width * letterbox.scale)), 1, inputSize.width),
                 std::clamp(static_cast<int>(std::lround(frameSize.height * letterbox.scale)), 1, inputSize.height));
    letterbox.offset = cv::Point((inputSize.width - letterbox.scaledSize.width) / 2,
                                 (inputSize.height - letterbox.scaledSize.height) / 2);
    return letterbox;
}

cv::Rect Letterbox::toFrame(const cv::Rect2f& inputBox) const {
    auto toFrameX = [this](double x) {
        return std::clamp(static_cast<int>(std::lround((x - offset.x) / scale)), 0, frameSize.width);
    };
    auto toFrameY = [this](double y) {
        return std::clamp(static_cast<int>(std::lround((y - offset.y) / scale)), 0, frameSize.height);
    };
    const int left = toFrameX(inputBox.x);
    const int top = toFrameY(inputBox.y);
    const int right = toFrameX(static_cast<double>(inputBox.x) + inputBox.width);
    const int bottom = toFrameY(static_cast<double>(inputBox.y) + inputBox.height);
    if (right <= left || bottom <= top) {
        return {};
    }
    return {left, top, right - left, bottom - top};
}

cv::Mat toDetectableBgr(const cv::Mat& frame) {
    if (frame.empty() || frame.dims != 2 || frame.depth() != CV_8U || frame.rows < minFrameSide ||
        frame.cols < minFrameSide) {
        return {};
    }
    cv::Mat bgr;
    switch (frame.channels()) {
        case 3:
            return frame;
        case 1:
            cv::cvtColor(frame, bgr, cv::COLOR_GRAY2BGR);
            return bgr;
        case 4:
            cv::cvtColor(frame, bgr, cv::COLOR_BGRA2BGR);
            return bgr;
        default:
            return {};
    }
}

cv::Mat makeInputBlob(const cv::Mat& bgr, const Letterbox& letterbox, cv::Size inputSize, int padValue) {
    cv::Mat canvas(inputSize, CV_8UC3, cv::Scalar::all(padValue));
    cv::Mat target = canvas(cv::Rect(letterbox.offset, letterbox.scaledSize));
    if (letterbox.scale >= 1.0) {
        cv::resize(bgr, target, letterbox.scaledSize, 0.0, 0.0, cv::INTER_LINEAR);
    } else if (letterbox.scale >= 0.5) {
        cv::resize(bgr, target, letterbox.scaledSize, 0.0, 0.0, cv::INTER_AREA);
    } else {
        // Area averaging keeps small heads intact when shrinking, but a direct
        // large factor is slow (1080p to 1/6: 1.7 ms, 4K: 4.5 ms). Bilinear to
        // twice the size, then OpenCV's fast 2x2 area step, costs ~0.5 ms and
        // stays within a grey level of the full average.
        cv::Mat doubled;
        cv::resize(bgr, doubled, letterbox.scaledSize * 2, 0.0, 0.0, cv::INTER_LINEAR);
        cv::resize(doubled, target, letterbox.scaledSize, 0.0, 0.0, cv::INTER_AREA);
    }
    return cv::dnn::blobFromImage(canvas, 1.0 / 255.0, cv::Size(), cv::Scalar(), true, false, CV_32F);
}

}  // namespace zor::hmd
