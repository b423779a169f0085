// Reading videos and images the same way in every tool: the video back end,
// OpenCV's log kept quiet while probing, and one message for what cannot be read.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace zor::tools {

// A video opened for reading from its first frame: with FFmpeg where this
// OpenCV has it, else (and for names FFmpeg misreads) OpenCV's own MJPEG
// reader. The first frame is read on opening, so that a file that opens but
// does not decode is told at once.
class VideoReader {
public:
    // Throws UserError when the file is missing, not a regular file or gives no frame.
    explicit VideoReader(const std::filesystem::path& path);

    // The next frame (a new buffer each time); false at the end.
    bool read(cv::Mat& frame);

    // Frames per second; 25 when the file does not say.
    double fps() const { return fps_; }
    // Frames the file says it holds; 0 when it does not say.
    long frameCount() const { return frameCount_; }
    // The size of the first frame.
    cv::Size frameSize() const { return frameSize_; }
    // Frames read so far.
    long framesRead() const { return framesRead_; }

    // Once read() has returned false: why the video ended before the frame
    // count its header gives (a file cut short or damaged); empty when it
    // did not, or the header does not say. One frame is allowed for
    // containers whose count is an estimate from the duration.
    std::string shortfall() const;

private:
    std::filesystem::path path_;
    cv::VideoCapture capture_;
    cv::Mat first_;
    cv::Size frameSize_;
    double fps_ = 25.0;
    long frameCount_ = 0;
    long framesRead_ = 0;
    bool ended_ = false;
};

// Files with these extensions (any case) are images.
bool isImageFile(const std::filesystem::path& path);

// The image files of `folder`, sorted by file name. Throws UserError when the
// folder cannot be listed.
std::vector<std::filesystem::path> listImages(const std::filesystem::path& folder);

// An image as 8-bit BGR. Throws UserError when it is not a regular file or
// cannot be read.
cv::Mat readImage(const std::filesystem::path& path);

}  // namespace zor::tools
