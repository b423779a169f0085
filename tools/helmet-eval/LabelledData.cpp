#include "LabelledData.h"

#include "ExcludeList.h"
#include "MediaInput.h"
#include "RendererLabels.h"
#include "ToolExit.h"
#include "YoloLabels.h"

#include <algorithm>
#include <filesystem>

namespace zor::eval {

namespace fs = std::filesystem;

namespace {

std::string counted(long count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

class ImageFolder : public LabelledData {
public:
    ImageFolder(const Options& options, const ClassMap& classes) : root_(options.imagesFolder), classes_(classes) {
        std::error_code error;
        const fs::path images = root_ / "images";
        if (!fs::is_directory(images, error)) {
            throw tools::UserError("no images/ folder in " + root_.string());
        }
        ExcludeList exclude;
        if (!options.excludeFile.empty()) {
            exclude = ExcludeList::read(options.excludeFile);
        }
        for (const fs::path& file : tools::listImages(images)) {
            if (exclude.excludes(file)) {
                ++excluded_;
            } else {
                files_.push_back(file);
            }
        }
        if (options.frameLimit > 0 && static_cast<long>(files_.size()) > options.frameLimit) {
            files_.resize(static_cast<std::size_t>(options.frameLimit));
        }
        if (files_.empty()) {
            throw tools::UserError("no images to score in " + images.string());
        }
    }

    bool next(LabelledFrame& frame) override {
        if (at_ >= files_.size()) {
            return false;
        }
        const fs::path& file = files_[at_];
        const cv::Mat image = tools::readImage(file);
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
          reader_(options.video),
          labels_(readRendererLabels(options.labelsFile, classes, reader_.frameSize())),
          limit_(options.frameLimit) {
        frameCount_ = reader_.frameCount();
        if (limit_ > 0 && (frameCount_ == 0 || frameCount_ > limit_)) {
            frameCount_ = limit_;
        }
    }

    bool next(LabelledFrame& frame) override {
        if (limit_ > 0 && read_ >= limit_) {
            return false;
        }
        cv::Mat image;
        if (!reader_.read(image)) {
            checkNothingIsMissing();
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
    // Figures over the frames that decoded would read as the whole video's.
    void checkNothingIsMissing() const {
        if (const std::string shortfall = reader_.shortfall(); !shortfall.empty()) {
            throw tools::UserError(shortfall + "; its figures would leave the rest out");
        }
        if (!labels_.empty() && labels_.rbegin()->first >= read_) {
            throw tools::UserError(labelsFile_ + " labels frame " + std::to_string(labels_.rbegin()->first) +
                                   " but the video " + path_ + " decodes only " + std::to_string(read_) +
                                   " frames (cut short or not the labelled video)");
        }
    }

    std::string path_;
    std::string labelsFile_;
    tools::VideoReader reader_;  // before the labels, which are checked against its frame size
    FrameLabels labels_;
    long limit_;
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
