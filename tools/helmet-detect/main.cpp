// helmet-detect: runs a ZORCustomHMD library over a video, an image or a
// folder of images and writes what it found for people to look at: an
// annotated copy, detections.jsonl and contact-sheet.png. The detector is used
// through the plugin interface only.
#include "Annotate.h"
#include "DetectOptions.h"
#include "FrameSource.h"
#include "InitialisedDetector.h"
#include "InstalledData.h"
#include "JsonlWriter.h"
#include "OutputFolder.h"
#include "ProgressLine.h"
#include "ToolExit.h"

#include "ZORCustomHMD.h"

#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace zor::detect {

namespace fs = std::filesystem;

namespace {

// "frame 120/600 (20%), 7.5 frames/s".
std::string progressText(long done, long total, std::chrono::steady_clock::time_point start) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ostringstream text;
    text.precision(1);
    text << tools::countText("frame", done, total) << ", " << std::fixed
         << (seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0) << " frames/s";
    return text.str();
}

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
    ZORCustomHMD library;
    tools::InitialisedDetector detector(library, options.modelDirectory, options.threshold);
    detector.plugin().OptimizeModel(true);  // the fastest target available; the default one otherwise

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
    tools::ProgressLine progress = tools::ProgressLine::onStandardError();
    const bool showProgress = source->isVideo() && progress.enabled();
    const auto start = std::chrono::steady_clock::now();

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
        ++processed;
        if (showProgress) {
            progress.show(progressText(processed, total, start));
        }
    }
    if (showProgress) {
        progress.finish(progressText(processed, total, start));
    }
    // The frames that were decoded are all there; the user must know the rest is not.
    if (const std::string shortfall = source->shortfall(); !shortfall.empty()) {
        std::cerr << "helmet-detect: warning: " << shortfall << std::endl;
    }
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
    return zor::tools::runToolMain("helmet-detect", [&] {
        const std::optional<zor::detect::Options> options =
            zor::detect::parseOptions(argc, argv, zor::tools::installedData(zor::tools::kShippedModel).string());
        return options ? zor::detect::run(*options) : zor::tools::kExitDone;
    });
}
