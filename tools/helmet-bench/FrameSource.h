// The frames a benchmark feeds to the detector, held in memory so that
// decoding is not part of any timed call.
#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace zor::bench {

struct FrameSet {
    std::vector<cv::Mat> frames;  // 8-bit BGR, all the same size
    std::string description;      // for the report, e.g. "synthetic 1920x1080"
    std::string shortfall;        // a video that ended before its header's frame count: why
};

// Distinct frames kept in memory at most: 1080p BGR is about 6 MB a frame.
constexpr int kMaxSyntheticFrames = 16;
constexpr int kMaxDecodedFrames = 120;

// `count` frames of `size` (at most kMaxSyntheticFrames): smooth colour fields
// with shapes and noise, the same for every run.
FrameSet makeSyntheticFrames(cv::Size size, int count);

// The first `count` frames of `video` (at most kMaxDecodedFrames; fewer when the
// video is shorter). Throws std::runtime_error when nothing can be decoded.
FrameSet decodeVideoFrames(const std::filesystem::path& video, int count);

}  // namespace zor::bench
