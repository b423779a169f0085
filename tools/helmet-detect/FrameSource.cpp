#include "FrameSource.h"

#include "QuietOpenCvLog.h"
#include "user_error.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <opencv2/videoio/registry.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace zor::detect {

namespace fs = std::filesystem;

namespace {

constexpr double kFallbackFps = 25.0;

class VideoSource final : public FrameSource {
public:
    explicit VideoSource(const fs::path& path) {
        {
            const QuietOpenCvLog quiet;
            capture_.open(path.string(),
                          cv::videoio_registry::hasBackend(cv::CAP_FFMPEG) ? cv::CAP_FFMPEG : cv::CAP_ANY);
            if (capture_.isOpened()) {
                capture_.read(first_);
            }
        }
        if (first_.empty()) {
            throw UserError("cannot read the video " + path.string());
        }
        const double fps = capture_.get(cv::CAP_PROP_FPS);
        fps_ = std::isfinite(fps) && fps > 0.0 ? fps : kFallbackFps;
        const double count = capture_.get(cv::CAP_PROP_FRAME_COUNT);
        expected_ = std::isfinite(count) && count > 0.0 ? static_cast<long>(count) : 0;
    }

    bool next(Frame& frame) override {
        cv::Mat image;
        if (!first_.empty()) {
            image = std::exchange(first_, cv::Mat());
        } else if (!capture_.read(image) || image.empty()) {
            return false;
        }
        frame = {image, nextIndex_, static_cast<double>(nextIndex_) / fps_, std::nullopt};
        ++nextIndex_;
        return true;
    }

    bool isVideo() const override { return true; }
    double fps() const override { return fps_; }
    long expectedFrames() const override { return expected_; }

private:
    cv::VideoCapture capture_;
    cv::Mat first_;  // read while opening, to tell an unreadable file at once
    double fps_ = kFallbackFps;
    long expected_ = 0;
    long nextIndex_ = 0;
};

class ImageSource final : public FrameSource {
public:
    explicit ImageSource(std::vector<fs::path> files) : files_(std::move(files)) {}

    bool next(Frame& frame) override {
        if (nextIndex_ >= files_.size()) {
            return false;
        }
        const fs::path& file = files_[nextIndex_];
        cv::Mat image = cv::imread(file.string(), cv::IMREAD_COLOR);
        if (image.empty()) {
            throw UserError("cannot read the image " + file.string());
        }
        frame = {image, static_cast<long>(nextIndex_), 0.0, file.filename().string()};
        ++nextIndex_;
        return true;
    }

    bool isVideo() const override { return false; }
    double fps() const override { return 0.0; }
    long expectedFrames() const override { return static_cast<long>(files_.size()); }

private:
    std::vector<fs::path> files_;
    std::size_t nextIndex_ = 0;
};

}  // namespace

bool isImageFile(const fs::path& path) {
    static constexpr std::array<std::string_view, 11> extensions{".png",  ".jpg", ".jpeg", ".bmp", ".tif", ".tiff",
                                                                 ".webp", ".ppm", ".pgm",  ".pnm", ".jp2"};
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

std::unique_ptr<FrameSource> openInput(const fs::path& input) {
    std::error_code error;
    if (fs::is_directory(input, error)) {
        std::vector<fs::path> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(input, error)) {
            if (entry.is_regular_file(error) && isImageFile(entry.path())) {
                files.push_back(entry.path());
            }
        }
        if (error) {
            throw UserError("cannot list the folder " + input.string() + " (" + error.message() + ")");
        }
        if (files.empty()) {
            throw UserError("no images in the folder " + input.string());
        }
        std::sort(files.begin(), files.end());
        return std::make_unique<ImageSource>(std::move(files));
    }
    if (!fs::exists(input, error)) {
        throw UserError("input not found: " + input.string());
    }
    if (isImageFile(input)) {
        return std::make_unique<ImageSource>(std::vector<fs::path>{input});
    }
    return std::make_unique<VideoSource>(input);
}

}  // namespace zor::detect
