// The input: the frames of a video, one image, or the images of a folder.
#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace zor::detect {

struct Frame {
    cv::Mat image;                    // 8-bit BGR
    long index = 0;                   // from 0
    double time = 0.0;                // index / fps for a video; 0 for images
    std::optional<std::string> name;  // an image's file name
};

class FrameSource {
public:
    virtual ~FrameSource() = default;

    // The next frame into `frame`; false at the end. Throws tools::UserError for an
    // image that cannot be read.
    virtual bool next(Frame& frame) = 0;

    virtual bool isVideo() const = 0;
    // Frames per second of a video.
    virtual double fps() const = 0;
    // How many frames to expect; 0 when the video does not say.
    virtual long expectedFrames() const = 0;
    // After the end: why a video gave fewer frames than its header says, or nothing.
    virtual std::string shortfall() const { return {}; }
};

// A folder gives its image files in name order; a file is an image or a video
// by its extension (tools::isImageFile). Throws tools::UserError when the input is missing or unreadable.
std::unique_ptr<FrameSource> openInput(const std::filesystem::path& input);

}  // namespace zor::detect
