#include "MediaInput.h"

#include "QuietOpenCvLog.h"
#include "TextFile.h"
#include "ToolExit.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio/registry.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <string_view>
#include <system_error>
#include <utility>

namespace zor::tools {

namespace fs = std::filesystem;

VideoReader::VideoReader(const fs::path& path) : path_(path) {
    requireRegularFile(path, "video");
    {
        const QuietOpenCvLog quiet;
        try {
            // FFmpeg reads "C:..." as a URL scheme: the contract's file names
            // need OpenCV's own MJPEG reader, tried next. Probing every back
            // end instead wakes camera libraries that leak.
            if (cv::videoio_registry::hasBackend(cv::CAP_FFMPEG)) {
                capture_.open(path.string(), cv::CAP_FFMPEG);
            }
            if (!capture_.isOpened()) {
                capture_.open(path.string(), cv::CAP_OPENCV_MJPEG);
            }
            if (capture_.isOpened()) {
                capture_.read(first_);
            }
        } catch (const cv::Exception&) {
            first_.release();
        }
    }
    if (first_.empty()) {
        throw UserError("cannot read the video " + path.string());
    }
    frameSize_ = first_.size();
    const double fps = capture_.get(cv::CAP_PROP_FPS);
    fps_ = std::isfinite(fps) && fps > 0.0 ? fps : 25.0;
    const double count = capture_.get(cv::CAP_PROP_FRAME_COUNT);
    frameCount_ = std::isfinite(count) && count > 0.0 ? static_cast<long>(count) : 0;
}

bool VideoReader::read(cv::Mat& frame) {
    if (!first_.empty()) {
        frame = std::exchange(first_, cv::Mat());
        ++framesRead_;
        return true;
    }
    frame = cv::Mat();  // a fresh buffer: the capture may reuse its own
    if (ended_ || !capture_.read(frame) || frame.empty()) {
        ended_ = true;
        return false;
    }
    ++framesRead_;
    return true;
}

std::string VideoReader::shortfall() const {
    if (!ended_ || framesRead_ + 1 >= frameCount_) {
        return {};
    }
    return "the video " + path_.string() + " decodes " + std::to_string(framesRead_) +
           " frames where its header says " + std::to_string(frameCount_) + " (cut short or damaged)";
}

bool isImageFile(const fs::path& path) {
    static constexpr std::array<std::string_view, 11> kExtensions{".png",  ".jpg", ".jpeg", ".bmp", ".tif", ".tiff",
                                                                  ".webp", ".ppm", ".pgm",  ".pnm", ".jp2"};
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

std::vector<fs::path> listImages(const fs::path& folder) {
    std::error_code error;
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (entry.is_regular_file(error) && isImageFile(entry.path())) {
            files.push_back(entry.path());
        }
    }
    if (error) {
        throw UserError("cannot list the folder " + folder.string() + " (" + error.message() + ")");
    }
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    return files;
}

cv::Mat readImage(const fs::path& path) {
    requireRegularFile(path, "image");  // OpenCV would wait on a FIFO for ever
    cv::Mat image;
    try {
        image = cv::imread(path.string(), cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        image.release();
    }
    if (image.empty()) {
        throw UserError("cannot read the image " + path.string());
    }
    return image;
}

}  // namespace zor::tools
