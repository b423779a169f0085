#include "FrameSource.h"

#include "MediaInput.h"
#include "TextFile.h"
#include "ToolExit.h"

#include <system_error>
#include <utility>
#include <vector>

namespace zor::detect {

namespace fs = std::filesystem;

namespace {

class VideoSource final : public FrameSource {
public:
    explicit VideoSource(const fs::path& path) : reader_(path) {}

    bool next(Frame& frame) override {
        cv::Mat image;
        if (!reader_.read(image)) {
            return false;
        }
        frame = {image, nextIndex_, static_cast<double>(nextIndex_) / reader_.fps(), std::nullopt};
        ++nextIndex_;
        return true;
    }

    bool isVideo() const override { return true; }
    double fps() const override { return reader_.fps(); }
    long expectedFrames() const override { return reader_.frameCount(); }
    std::string shortfall() const override { return reader_.shortfall(); }

private:
    tools::VideoReader reader_;
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
        const cv::Mat image = tools::readImage(file);
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

std::unique_ptr<FrameSource> openInput(const fs::path& input) {
    std::error_code error;
    if (fs::is_directory(input, error)) {
        std::vector<fs::path> files = tools::listImages(input);
        if (files.empty()) {
            throw tools::UserError("no images in the folder " + input.string());
        }
        return std::make_unique<ImageSource>(std::move(files));
    }
    tools::requireRegularFile(input, "input");  // a FIFO or a device would never end
    if (tools::isImageFile(input)) {
        return std::make_unique<ImageSource>(std::vector<fs::path>{input});
    }
    return std::make_unique<VideoSource>(input);
}

}  // namespace zor::detect
