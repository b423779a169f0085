// The output folder. Every output is written under a temporary name in the
// folder and only renamed to its final name once the whole run succeeded, so
// a failed run leaves nothing half-written under a final name.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace zor::detect {

class OutputFolder {
public:
    // Creates the folder if needed; throws tools::UserError when that fails.
    explicit OutputFolder(std::filesystem::path folder);
    // Removes the temporary files of a run that did not commit.
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    const std::filesystem::path& path() const { return folder_; }

    // The temporary path to write the output `finalName` to. It ends in
    // `finalName`, so writers that go by the extension pick the right format.
    std::filesystem::path stage(const std::string& finalName);

    // Renames every staged file to its final name (replacing older ones).
    void commit();

private:
    struct Staged {
        std::filesystem::path temporary;
        std::filesystem::path final;
    };

    std::filesystem::path folder_;
    std::string prefix_;
    std::vector<Staged> staged_;
    bool committed_ = false;
};

// The annotated copy of a video: H.264 ('avc1') where the encoder is
// available, MPEG-4 Visual ('mp4v') otherwise. Opens at the first frame.
class AnnotatedVideo {
public:
    AnnotatedVideo(std::filesystem::path path, double fps);

    // Frames of another size than the first are scaled to it.
    void write(const cv::Mat& frame);
    // Throws std::runtime_error when nothing usable was written.
    void close();

private:
    std::filesystem::path path_;
    double fps_;
    cv::Size size_;
    cv::VideoWriter writer_;
};

}  // namespace zor::detect
