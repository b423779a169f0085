#include "FrameSource.h"

#include "MediaInput.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace zor::bench {

namespace {

cv::Scalar randomColour(cv::RNG& rng) {
    return cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256));
}

cv::Mat syntheticFrame(cv::Size size, std::uint64_t seed) {
    cv::RNG rng(seed);
    // A coarse random colour grid, smoothly enlarged, as the background.
    cv::Mat coarse(6, 8, CV_8UC3);
    rng.fill(coarse, cv::RNG::UNIFORM, 0, 256);
    cv::Mat frame;
    cv::resize(coarse, frame, size, 0.0, 0.0, cv::INTER_CUBIC);

    const int shortSide = std::max(1, std::min(size.width, size.height));
    for (int i = 0; i < 40; ++i) {
        const cv::Point centre(rng.uniform(0, size.width), rng.uniform(0, size.height));
        const int radius = std::max(1, rng.uniform(shortSide / 40, shortSide / 8 + 2));
        if (i % 2 == 0) {
            cv::circle(frame, centre, radius, randomColour(rng), cv::FILLED, cv::LINE_AA);
        } else {
            const cv::Point corner(centre.x + radius, centre.y + radius * 2);
            cv::rectangle(frame, centre, corner, randomColour(rng), cv::FILLED);
        }
    }
    cv::Mat noise(size, CV_8UC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, 6);
    frame += noise;
    return frame;
}

}  // namespace

FrameSet makeSyntheticFrames(cv::Size size, int count) {
    FrameSet set;
    const int distinct = std::clamp(count, 1, kMaxSyntheticFrames);
    for (int i = 0; i < distinct; ++i) {
        set.frames.push_back(syntheticFrame(size, 0x5EED0000u + static_cast<std::uint64_t>(i)));
    }
    set.description = "synthetic " + std::to_string(size.width) + "x" + std::to_string(size.height);
    return set;
}

FrameSet decodeVideoFrames(const std::filesystem::path& video, int count) {
    tools::VideoReader reader(video);
    FrameSet set;
    const int wanted = std::clamp(count, 1, kMaxDecodedFrames);
    cv::Mat frame;
    while (static_cast<int>(set.frames.size()) < wanted && reader.read(frame)) {
        if (frame.type() != CV_8UC3 || (!set.frames.empty() && frame.size() != set.frames.front().size())) {
            throw std::runtime_error(video.string() + ": frames are not 8-bit BGR of one size");
        }
        set.frames.push_back(frame);
    }
    if (static_cast<int>(set.frames.size()) < wanted) {
        set.shortfall = reader.shortfall();
    }
    const cv::Size size = set.frames.front().size();
    set.description = video.string() + " (" + std::to_string(size.width) + "x" + std::to_string(size.height) + ")";
    return set;
}

}  // namespace zor::bench
