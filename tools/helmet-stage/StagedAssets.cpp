#include "StagedAssets.h"

#include "MediaInput.h"
#include "QuietOpenCvLog.h"
#include "ToolExit.h"

#include <opencv2/videoio.hpp>

#include <stdexcept>
#include <system_error>

namespace zor::stage {

namespace fs = std::filesystem;

namespace {

// FFmpeg opens "C:\..." as a URL with an absolute path in front and refuses
// it without: the check must run where the contract program runs.
class WorkingFolder {
public:
    explicit WorkingFolder(const fs::path& folder) : previous_(fs::current_path()) { fs::current_path(folder); }
    ~WorkingFolder() {
        std::error_code ignored;
        fs::current_path(previous_, ignored);
    }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

private:
    fs::path previous_;
};

}  // namespace

bool readableAs(const fs::path& folder, const std::string& name) {
    const WorkingFolder inside(folder);
    const tools::QuietOpenCvLog quiet;
    try {
        cv::VideoCapture capture(name, cv::CAP_ANY);
        cv::Mat frame;
        return capture.isOpened() && capture.read(frame) && !frame.empty();
    } catch (const cv::Exception&) {
        return false;
    }
}

void placeLink(const fs::path& target, const fs::path& link) {
    const fs::file_status status = fs::symlink_status(link);
    if (fs::exists(status) && !fs::is_symlink(status) && fs::equivalent(target, link)) {
        return;  // the file itself is already under the staged name
    }
    if (fs::is_directory(status)) {
        throw tools::UserError(link.string() + " is a folder; remove it or stage into another folder");
    }
    if (fs::exists(status)) {
        fs::remove(link);
    }
    if (link.has_parent_path()) {
        fs::create_directories(link.parent_path());  // on Windows the names are real paths
    }
    if (fs::is_directory(target)) {
        fs::create_directory_symlink(target, link);
    } else {
        fs::create_symlink(target, link);
    }
}

long reencodeAsMotionJpeg(const fs::path& video, const fs::path& out, const std::function<void(long, long)>& progress) {
    tools::VideoReader reader(video);
    const int mjpg = cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
    cv::VideoWriter writer;
    {
        // FFmpeg's encoder first: frames of OpenCV's own make libjpeg warn
        // "Corrupt JPEG data" whenever they are read. Both need an .avi name.
        const tools::QuietOpenCvLog quiet;
        writer.open(out.string(), cv::CAP_FFMPEG, mjpg, reader.fps(), reader.frameSize());
        if (!writer.isOpened()) {
            writer.open(out.string(), cv::CAP_OPENCV_MJPEG, mjpg, reader.fps(), reader.frameSize());
            writer.set(cv::VIDEOWRITER_PROP_QUALITY, 90);
        }
    }
    if (!writer.isOpened()) {
        throw std::runtime_error("cannot write a Motion-JPEG AVI to " + out.string());
    }
    long frames = 0;
    cv::Mat frame;
    while (reader.read(frame)) {
        if (frame.size() != reader.frameSize() || frame.type() != CV_8UC3) {
            throw tools::UserError("frame " + std::to_string(frames) + " of " + video.string() +
                                   " differs in size or type from the first");
        }
        writer.write(frame);
        progress(++frames, reader.frameCount());
    }
    writer.release();
    return frames;
}

}  // namespace zor::stage
