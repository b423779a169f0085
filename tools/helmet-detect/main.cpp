// helmet-detect: runs a ZORCustomHMD library over a video, an image or a
// folder of images and writes what it found for people to look at: an
// annotated copy, detections.jsonl and contact-sheet.png. The detector is used
// through the plugin interface only.
#include "Annotate.h"
#include "CerrCapture.h"
#include "DetectOptions.h"
#include "FrameSource.h"
#include "JsonlWriter.h"
#include "OutputFolder.h"
#include "ToolExit.h"

#include "ZORCustomHMD.h"

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define HELMET_DETECT_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define HELMET_DETECT_ISATTY(fd) isatty(fd)
#endif

#ifndef HELMET_DETECT_DEFAULT_MODEL
#define HELMET_DETECT_DEFAULT_MODEL "models/ZOR_Helmet"
#endif

namespace zor::detect {

namespace fs = std::filesystem;

namespace {

using zor::tools::CerrCapture;

// The detector for the length of a run: initialised on construction,
// destroyed on the way out whatever happens. Only the plugin interface is used.
class Detector {
public:
    explicit Detector(const Options& options) : plugin_(library_) {
        std::error_code error;
        if (!fs::is_directory(options.modelDirectory, error)) {
            throw tools::UserError("model folder not found: " + options.modelDirectory);
        }
        std::string labelMap;
        bool loaded = false;
        std::string reason;
        {
            CerrCapture capture;
            loaded = plugin_.Initialize(options.modelDirectory, options.threshold, labelMap);
            reason = capture.text();
        }
        if (!loaded) {
            throw tools::UserError(
                "cannot load the model in " + options.modelDirectory +
                (reason.empty() ? std::string(" (Initialize returned false)") : " (" + reason + ")"));
        }
        plugin_.OptimizeModel(true);  // the fastest target available; the default one otherwise
    }
    ~Detector() { plugin_.Destroy(); }
    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;

    std::vector<CustomObject> detect(const cv::Mat& frame, const std::string& cameraId) {
        return plugin_.RunInference(frame, cameraId);
    }

private:
    ZORCustomHMD library_;
    IZORCustomClass& plugin_;
};

// "frame 120/600 (20%), 7.5 frames/s" on standard error, rewritten in place,
// at most four times a second; only when standard error is a terminal.
class Progress {
public:
    Progress(bool enabled, long total) : enabled_(enabled), total_(total) {}

    void update(long done, bool force = false) {
        const auto now = Clock::now();
        if (!enabled_ || (!force && now - shown_ < std::chrono::milliseconds(250))) {
            return;
        }
        shown_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        std::fprintf(stderr, "\rframe %ld", done);
        if (total_ > 0) {
            std::fprintf(stderr, "/%ld (%ld%%)", total_, 100 * done / total_);
        }
        std::fprintf(stderr, ", %.1f frames/s   ", seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0);
        std::fflush(stderr);
    }

    void finish(long done) {
        update(done, true);
        if (enabled_) {
            std::fputc('\n', stderr);
        }
    }

private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    long total_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point shown_{};
};

// "annotated-<stem>.png", or "annotated-<file name>.png" when two images of
// the folder share a stem.
std::string annotatedImageName(const std::string& fileName, std::set<std::string>& used) {
    std::string name = "annotated-" + fs::path(fileName).stem().string() + ".png";
    if (!used.insert(name).second) {
        name = "annotated-" + fileName + ".png";
        used.insert(name);
    }
    return name;
}

void writeImage(const fs::path& path, const cv::Mat& image) {
    bool written = false;
    try {
        written = cv::imwrite(path.string(), image);
    } catch (const cv::Exception&) {
    }
    if (!written) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

// "1 image", "3 frames".
std::string counted(long count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// Annotated images written into the input folder would be read as input by
// the next run.
void checkFoldersDiffer(const fs::path& input, const fs::path& output) {
    std::error_code error;
    if (fs::is_directory(input, error) && fs::exists(output, error) && fs::equivalent(input, output, error)) {
        throw tools::UserError("the output folder must not be the input folder " + input.string());
    }
}

std::string caption(const Frame& frame) {
    std::ostringstream text;
    text << "frame " << frame.index;
    if (frame.name) {
        text << "  " << *frame.name;
    } else {
        text.precision(2);
        text << std::fixed << "  (" << frame.time << " s)";
    }
    return text.str();
}

int run(const Options& options) {
    const std::unique_ptr<FrameSource> source = openInput(options.input);
    checkFoldersDiffer(options.input, options.outputFolder);
    OutputFolder output(options.outputFolder);
    JsonLinesWriter log(output.stage("detections.jsonl"));
    Detector detector(options);

    std::optional<AnnotatedVideo> video;
    if (source->isVideo()) {
        video.emplace(output.stage("annotated.mp4"), source->fps());
    }
    std::set<std::string> imageNames;
    ContactSheet sheet;
    long total = source->expectedFrames();
    if (options.frameLimit > 0 && (total == 0 || total > options.frameLimit)) {
        total = options.frameLimit;
    }
    sheet.expectFrames(total);
    Progress progress(source->isVideo() && HELMET_DETECT_ISATTY(2), total);

    long processed = 0;
    long detections = 0;
    Frame frame;
    while ((options.frameLimit == 0 || processed < options.frameLimit) && source->next(frame)) {
        const std::vector<CustomObject> objects = detector.detect(frame.image, options.cameraId);
        log.write({frame.index, frame.time, frame.name}, objects);
        cv::Mat annotated = frame.image.clone();
        drawDetections(annotated, objects);
        if (video) {
            video->write(annotated);
        } else {
            writeImage(output.stage(annotatedImageName(*frame.name, imageNames)), annotated);
        }
        sheet.add(frame.index, frame.image, objects, caption(frame));
        detections += static_cast<long>(objects.size());
        progress.update(++processed);
    }
    progress.finish(processed);
    if (video) {
        video->close();
    }
    log.close();

    const std::string summary =
        counted(processed, source->isVideo() ? "frame" : "image") + ", " + counted(detections, "detection");
    std::ostringstream title;
    title << fs::path(options.input).filename().string() << ": " << summary << ", threshold " << options.threshold
          << ", model " << fs::path(options.modelDirectory).filename().string();
    writeImage(output.stage("contact-sheet.png"), sheet.render(title.str()));
    output.commit();
    std::cout << "helmet-detect: " << summary << "; results in " << output.path().string() << "\n";
    return tools::kExitDone;
}

}  // namespace

}  // namespace zor::detect

int main(int argc, char** argv) {
    // OpenCV's own warnings (video back ends probing a file) would add lines
    // to the single line a user error gives.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    return zor::tools::runToolMain("helmet-detect", [&] {
        const std::optional<zor::detect::Options> options =
            zor::detect::parseOptions(argc, argv, HELMET_DETECT_DEFAULT_MODEL);
        return options ? zor::detect::run(*options) : zor::tools::kExitDone;
    });
}
