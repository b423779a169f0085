#include "LabelledData.h"

#include "ExcludeList.h"
#include "RendererLabels.h"
#include "UserError.h"
#include "YoloLabels.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <string_view>

namespace zor::eval {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, 11> kImageExtensions{".png",  ".jpg", ".jpeg", ".bmp", ".tif", ".tiff",
                                                            ".webp", ".ppm", ".pgm",  ".pnm", ".jp2"};

bool isImageFile(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(kImageExtensions.begin(), kImageExtensions.end(), extension) != kImageExtensions.end();
}

std::string counted(long count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

class ImageFolder : public LabelledData {
public:
    ImageFolder(const Options& options, const ClassMap& classes) : root_(options.imagesFolder), classes_(classes) {
        std::error_code error;
        const fs::path images = root_ / "images";
        if (!fs::is_directory(images, error)) {
            throw UserError("no images/ folder in " + root_.string());
        }
        ExcludeList exclude;
        if (!options.excludeFile.empty()) {
            exclude = ExcludeList::read(options.excludeFile);
        }
        for (const auto& entry : fs::directory_iterator(images, error)) {
            if (entry.is_regular_file(error) && isImageFile(entry.path())) {
                if (exclude.excludes(entry.path())) {
                    ++excluded_;
                } else {
                    files_.push_back(entry.path());
                }
            }
        }
        if (error) {
            throw UserError("cannot list " + images.string() + ": " + error.message());
        }
        std::sort(files_.begin(), files_.end(),
                  [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
        if (options.frameLimit > 0 && static_cast<long>(files_.size()) > options.frameLimit) {
            files_.resize(static_cast<std::size_t>(options.frameLimit));
        }
        if (files_.empty()) {
            throw UserError("no images to score in " + images.string());
        }
    }

    bool next(LabelledFrame& frame) override {
        if (at_ >= files_.size()) {
            return false;
        }
        const fs::path& file = files_[at_];
        cv::Mat image;
        try {
            image = cv::imread(file.string(), cv::IMREAD_COLOR);
        } catch (const cv::Exception&) {
        }
        if (image.empty()) {
            throw UserError("cannot read the image " + file.string());
        }
        frame.index = static_cast<long>(at_++);
        frame.name = file.filename().string();
        frame.truths = readYoloLabels(root_ / "labels" / (file.stem().string() + ".txt"), image.size(), classes_);
        frame.image = image;
        return true;
    }

    long expectedFrames() const override { return static_cast<long>(files_.size()); }
    long excluded() const override { return excluded_; }
    std::string description() const override {
        return root_.string() + ": " + counted(expectedFrames(), "image") +
               (excluded_ > 0 ? " (" + std::to_string(excluded_) + " excluded)" : "");
    }

private:
    fs::path root_;
    ClassMap classes_;
    std::vector<fs::path> files_;
    std::size_t at_ = 0;
    long excluded_ = 0;
};

class LabelledVideo : public LabelledData {
public:
    LabelledVideo(const Options& options, const ClassMap& classes)
        : path_(options.video),
          labelsFile_(options.labelsFile),
          labels_(readRendererLabels(options.labelsFile, classes)),
          limit_(options.frameLimit) {
        std::error_code error;
        if (!fs::is_regular_file(path_, error)) {
            throw UserError("video not found: " + path_);
        }
        try {
            capture_.open(path_);
        } catch (const cv::Exception&) {
        }
        if (!capture_.isOpened()) {
            throw UserError("cannot open the video " + path_);
        }
        frameCount_ = std::max(0L, static_cast<long>(capture_.get(cv::CAP_PROP_FRAME_COUNT)));
        if (limit_ > 0 && (frameCount_ == 0 || frameCount_ > limit_)) {
            frameCount_ = limit_;
        }
    }

    bool next(LabelledFrame& frame) override {
        if (limit_ > 0 && read_ >= limit_) {
            return false;
        }
        cv::Mat image;
        if (!capture_.read(image) || image.empty()) {
            if (read_ == 0) {
                throw UserError("cannot read a frame of the video " + path_);
            }
            return false;
        }
        frame.index = read_++;
        frame.name = "frame " + std::to_string(frame.index);
        const auto found = labels_.find(frame.index);
        frame.truths = found == labels_.end() ? std::vector<LabelledBox>{} : found->second;
        frame.image = image;
        return true;
    }

    long expectedFrames() const override { return frameCount_; }
    std::string description() const override { return path_ + " (labels " + labelsFile_ + ")"; }

private:
    std::string path_;
    std::string labelsFile_;
    FrameLabels labels_;
    long limit_;
    cv::VideoCapture capture_;
    long frameCount_ = 0;
    long read_ = 0;
};

}  // namespace

std::unique_ptr<LabelledData> openLabelledData(const Options& options, const ClassMap& classes) {
    if (!options.imagesFolder.empty()) {
        return std::make_unique<ImageFolder>(options, classes);
    }
    return std::make_unique<LabelledVideo>(options, classes);
}

}  // namespace zor::eval
