// Pre-processing: from a caller's frame to the network's input tensor, and the
// letterbox geometry that maps network boxes back onto the frame.
#pragma once

#include <opencv2/core.hpp>

namespace zor::hmd {

// Smallest frame side on which an object can still be found.
constexpr int kMinFrameSide = 16;

// Where the frame sits inside the network input: scaled by `scale`, then
// shifted by `offset` (the padding on the left and top).
struct Letterbox {
    double scale = 1.0;
    cv::Point offset;
    cv::Size scaledSize;
    cv::Size frameSize;

    static Letterbox fit(cv::Size frameSize, cv::Size inputSize);

    // Maps a box in network-input pixels onto the frame, clipped to it. An
    // empty rectangle means nothing of the box lies inside the frame.
    cv::Rect toFrame(const cv::Rect2f& inputBox) const;
};

// The frame as 8-bit BGR (grey and BGRA are converted), or an empty matrix for
// frames that cannot hold an object or have an unsupported type.
cv::Mat toDetectableBgr(const cv::Mat& frame);

// NCHW float blob: RGB, scaled to [0, 1], letterboxed with `padValue`. Built
// in one pass over the frame where the letterbox shrinks by more than half or
// enlarges (every video frame), otherwise by makeInputBlobInSteps; both give
// the same blob bit for bit.
cv::Mat makeInputBlob(const cv::Mat& bgr, const Letterbox& letterbox, cv::Size inputSize, int padValue);

// The same into `blob`, reusing its memory when it has the blob's shape: a
// fresh blob costs a third of a millisecond in page faults alone.
void makeInputBlob(const cv::Mat& bgr, const Letterbox& letterbox, cv::Size inputSize, int padValue, cv::Mat& blob);

// The same blob in separate steps: OpenCV's resize into a padded canvas, then
// blobFromImage. The reference for the one-pass path and the path for scales
// it does not cover.
cv::Mat makeInputBlobInSteps(const cv::Mat& bgr, const Letterbox& letterbox, cv::Size inputSize, int padValue);
void makeInputBlobInSteps(const cv::Mat& bgr, const Letterbox& letterbox, cv::Size inputSize, int padValue,
                          cv::Mat& blob);

// Whether makeInputBlob takes the one-pass path for this letterbox.
bool hasOnePassBlob(const Letterbox& letterbox);

}  // namespace zor::hmd
