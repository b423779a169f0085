#include "CertificationSupport.h"

#include "CommandLine.h"
#include "MediaInput.h"
#include "ResidentMemory.h"
#include "TextFile.h"
#include "ToolExit.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string_view>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace zor::cert {

namespace fs = std::filesystem;

namespace {

// Decoded frames kept for the tests that need real frames, taken a twelfth
// of the frames apart.
constexpr std::size_t kSampleFrames = 3;

// "helmet:0.97,head:0.93"
bool parseFloors(const std::string& text, std::map<std::string, double>& floors) {
    std::map<std::string, double> parsed;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const auto colon = item.rfind(':');
        const std::optional<double> value =
            colon == std::string::npos ? std::nullopt : tools::parseNumber<double>(item.substr(colon + 1));
        if (colon == 0 || !value || !(*value >= 0.0 && *value <= 1.0)) {
            return false;
        }
        parsed[item.substr(0, colon)] = *value;
    }
    if (parsed.empty()) {
        return false;  // an empty list would check nothing
    }
    floors = std::move(parsed);
    return true;
}

// ---------------------------------------------------------------------------
// Robustness options (CertifiedRobustness)

constexpr std::array<std::string_view, 6> kRobustnessOptions{
    "site-photos", "site-classes", "robust-floors", "robust-kept-floors", "small-floors", "false-helmets-per-image"};

std::string robustnessUsage() {
    return "  --site-photos DIR      labelled photos; those without a helmet add to the false-alarm test\n"
           "                         (the installed site-sample)\n"
           "  --site-classes MAP     their class id to class name (0:helmet,1:head)\n"
           "  --robust-floors LIST   least mean AP50 per camera condition of the photos\n"
           "                         (gray, dark, motion, defocus, jpeg, half)\n"
           "  --robust-kept-floors LIST  least share of the clean mean AP50 kept per condition\n"
           "  --small-floors LIST    least AP50 per class on small objects of the photos\n"
           "  --false-helmets-per-image N  most helmets per image without a hard hat\n";
}

std::string parseRobustnessOptions(const tools::Arguments& arguments, RobustnessOptions& options) {
    options.sitePhotos = arguments.text("site-photos", options.sitePhotos);
    options.siteClasses = arguments.text("site-classes", options.siteClasses);
    for (const auto& [name, floors] :
         {std::pair{"robust-floors", &options.floors}, std::pair{"robust-kept-floors", &options.keptFloors},
          std::pair{"small-floors", &options.smallFloors}}) {
        if (arguments.has(name) && !parseFloors(arguments.text(name), *floors)) {
            return std::string("--") + name + " takes name:value items between 0 and 1, e.g. gray:0.5,dark:0.4";
        }
    }
    options.falseHelmetsPerImage = arguments.number("false-helmets-per-image", options.falseHelmetsPerImage, 0.0, 1e6);
    return {};
}

// ---------------------------------------------------------------------------
// Stability and per-call resource options (CertifiedStability, CertifiedResources)

constexpr std::array<std::string_view, 4> kStabilityOptions{"dropout-share", "jitter-share", "inference-calls",
                                                            "call-memory-budget-mb"};

std::string stabilityUsage() {
    return "  --dropout-share N      most share of tracked video objects whose detection drops out\n"
           "                         for up to 3 frames and returns (0.34)\n"
           "  --jitter-share N       most median frame-to-frame change of the boxes' offsets from\n"
           "                         the ground truth, relative to the object's height (0.02)\n"
           "  --inference-calls N    calls of the per-call memory test (60)\n"
           "  --call-memory-budget-mb M  resident memory growth allowed over those calls (1)\n";
}

void parseStabilityOptions(const tools::Arguments& arguments, StabilityOptions& options) {
    options.dropoutShare = arguments.number("dropout-share", options.dropoutShare, 0.0, 1.0);
    options.jitterShare = arguments.number("jitter-share", options.jitterShare, 0.0, 1e6);
    options.inferenceCalls = arguments.number("inference-calls", options.inferenceCalls, 1, 10'000'000);
    options.callMemoryBudgetMb = arguments.number("call-memory-budget-mb", options.callMemoryBudgetMb, 1e-6, 1e6);
}

}  // namespace

std::string usage() {
    return "HelmetCertificationTest [gtest options] [options]\n"
           "  --model DIR            model directory passed to Initialize (the contract's name)\n"
           "  --video FILE           the test video (the contract's name)\n"
           "  --video-labels FILE    the renderer's ground truth of the video (the installed one)\n"
           "  --photos DIR           labelled photos: images/ and labels/ in YOLO form (the installed\n"
           "                         hard-hat-sample)\n"
           "  --photo-classes MAP    dataset class id to class name (1:helmet,0:head)\n"
           "  --video-floors LIST    least AP50 per class on the video (helmet:0.97,head:0.93)\n"
           "  --photo-floors LIST    least AP50 per class on the photos (helmet:0.80,head:0.80)\n"
           "  --detect-threshold T   threshold of the accuracy runs (0.05)\n"
           "  --frames N             video frames run (300)\n"
           "  --photo-count N        only the first N photos in name order (all)\n"
           "  --cycles N             Initialize/Destroy cycles of the memory test (200)\n"
           "  --memory-budget-mb M   resident memory growth allowed over the cycles (2)\n"
           "  --latency-budget-ms M  p99 latency allowed over the video frames (200)\n" +
           robustnessUsage() + stabilityUsage();
}

std::string parseOptions(int argc, char** argv, Options& options) {
    static const tools::OptionTable table = [] {
        tools::OptionTable base{
            {"model", "video", "video-labels", "photos", "photo-classes", "video-floors", "photo-floors",
             "detect-threshold", "frames", "photo-count", "cycles", "memory-budget-mb", "latency-budget-ms"},
            {}};
        base.valueOptions.insert(base.valueOptions.end(), kRobustnessOptions.begin(), kRobustnessOptions.end());
        base.valueOptions.insert(base.valueOptions.end(), kStabilityOptions.begin(), kStabilityOptions.end());
        return base;
    }();
    constexpr int kMaxCount = 10'000'000;
    try {
        const tools::Arguments arguments = tools::Arguments::parse(argc, argv, table);
        options.modelDirectory = arguments.text("model", options.modelDirectory);
        options.video = arguments.text("video", options.video);
        options.videoLabels = arguments.text("video-labels", options.videoLabels);
        options.photos = arguments.text("photos", options.photos);
        options.photoClasses = arguments.text("photo-classes", options.photoClasses);
        for (const auto& [name, floors] :
             {std::pair{"video-floors", &options.videoFloors}, std::pair{"photo-floors", &options.photoFloors}}) {
            if (arguments.has(name) && !parseFloors(arguments.text(name), *floors)) {
                return std::string("--") + name + " takes class:AP50 items between 0 and 1, e.g. helmet:0.9,head:0.9";
            }
        }
        // A path given on purpose and mistyped would otherwise skip every test
        // that needs it and pass.
        for (const auto& [name, folder] : {std::pair{"model", true}, std::pair{"photos", true},
                                           std::pair{"video", false}, std::pair{"video-labels", false}}) {
            if (!arguments.has(name)) {
                continue;
            }
            const std::string path = arguments.text(name);
            std::error_code error;
            if (folder && !fs::is_directory(path, error)) {
                return std::string("--") + name + " folder not found: " + path;
            }
            if (!folder) {
                tools::requireRegularFile(path, std::string("--") + name);
            }
        }
        options.detectThreshold = arguments.number("detect-threshold", options.detectThreshold, 0.0f, 1.0f);
        options.frames = arguments.number("frames", options.frames, 1, kMaxCount);
        options.photoCount = arguments.number("photo-count", options.photoCount, 1, kMaxCount);
        options.cycles = arguments.number("cycles", options.cycles, 1, kMaxCount);
        options.memoryBudgetMb = arguments.number("memory-budget-mb", options.memoryBudgetMb, 1e-6, 1e6);
        options.latencyBudgetMs = arguments.number("latency-budget-ms", options.latencyBudgetMs, 1e-6, 1e6);
        if (std::string problem = parseRobustnessOptions(arguments, options.robustness); !problem.empty()) {
            return problem;
        }
        parseStabilityOptions(arguments, options.stability);
    } catch (const tools::UserError& error) {
        return error.what();
    }
    return {};
}

namespace {

// Holds the options and the runs that several tests read, for the whole
// program; GoogleTest owns it.
class Environment : public ::testing::Environment {
public:
    explicit Environment(Options options) : options_(std::move(options)) {}
    Options options_;
    std::optional<VideoRun> video_;
    std::optional<VideoRun> samples_;
    std::optional<PhotoRun> photos_;
};

Environment* environment = nullptr;

// With samplesOnly, just the sample frames: only candidates are run, and
// reading stops once there are enough.
VideoRun makeVideoRun(const Options& options, bool samplesOnly) {
    VideoRun run;
    std::error_code error;
    if (!fs::is_directory(options.modelDirectory, error)) {
        run.missing = "Helmet model not found at: " + options.modelDirectory;
        return run;
    }
    if (!fs::exists(options.video, error)) {
        run.missing = "Helmet test video not found at: " + options.video;
        return run;
    }
    run.available = true;
    std::optional<tools::VideoReader> capture;
    try {
        capture.emplace(options.video);
    } catch (const tools::UserError&) {
        return run;  // not opened
    }
    run.opened = true;
    Detector detector;
    if (!detector.load(options.detectThreshold)) {
        return run;
    }
    run.loaded = true;
    run.labels = detector.labels();
    const std::size_t spacing = std::max<std::size_t>(1, static_cast<std::size_t>(options.frames) / 12);
    std::size_t nextSample = 0;
    const LoadMeter meter;
    for (int index = 0; index < options.frames; ++index) {
        cv::Mat frame;
        if (!capture->read(frame)) {
            run.shortfall = capture->shortfall();
            break;
        }
        const bool candidate = static_cast<std::size_t>(index) >= nextSample && run.sampleFrames.size() < kSampleFrames;
        if (samplesOnly && !candidate) {
            continue;
        }
        FrameResult result;
        result.size = frame.size();
        const CallTimer timer;
        try {
            result.objects = detector.get().RunInference(frame);
        } catch (...) {
            result.threw = true;
        }
        result.time = timer.stop();
        if (candidate && result.objects.size() >= 2) {
            run.sampleFrames.push_back(frame);
            nextSample = static_cast<std::size_t>(index) + spacing;
            if (samplesOnly && run.sampleFrames.size() == kSampleFrames) {
                break;
            }
        }
        if (!samplesOnly) {
            run.frames.push_back(std::move(result));
        }
    }
    run.load = meter.stop();
    return run;
}

PhotoRun makePhotoRun(const Options& options) {
    PhotoRun run;
    std::error_code error;
    if (!fs::is_directory(options.modelDirectory, error)) {
        run.missing = "Helmet model not found at: " + options.modelDirectory;
        return run;
    }
    const fs::path images = fs::path(options.photos) / "images";
    if (options.photos.empty() || !fs::is_directory(images, error)) {
        run.missing = "Labelled photos not found at: " + options.photos;
        return run;
    }
    run.available = true;
    std::vector<fs::path> files;
    try {
        files = tools::listImages(images);
    } catch (const tools::UserError& error) {
        run.problem = error.what();
        return run;
    }
    if (options.photoCount > 0 && files.size() > static_cast<std::size_t>(options.photoCount)) {
        files.resize(static_cast<std::size_t>(options.photoCount));
    }
    if (files.empty()) {
        run.problem = "no images in " + images.string();
        return run;
    }
    Detector detector;
    if (!detector.load(options.detectThreshold)) {
        run.problem = "Initialize refused the model";
        return run;
    }
    run.loaded = true;
    run.labels = detector.labels();
    for (const fs::path& file : files) {
        cv::Mat image;
        try {
            image = tools::readImage(file);
        } catch (const tools::UserError& error) {
            run.problem = error.what();
            return run;
        }
        FrameResult result;
        result.size = image.size();
        const CallTimer timer;
        try {
            result.objects = detector.get().RunInference(image, "certification");
        } catch (...) {
            result.threw = true;
        }
        result.time = timer.stop();
        run.names.push_back(file.stem().string());
        run.images.push_back(std::move(image));
        run.results.push_back(std::move(result));
    }
    return run;
}

}  // namespace

const Options& options() {
    return environment->options_;
}

void setOptions(Options options) {
    // GoogleTest deletes its environments at exit.
    environment = static_cast<Environment*>(
        ::testing::AddGlobalTestEnvironment(std::make_unique<Environment>(std::move(options)).release()));
}

const VideoRun& videoRun() {
    if (!environment->video_) {
        environment->video_ = makeVideoRun(environment->options_, false);
    }
    return *environment->video_;
}

const VideoRun& videoSamples() {
    if (environment->video_) {
        return *environment->video_;
    }
    if (!environment->samples_) {
        environment->samples_ = makeVideoRun(environment->options_, true);
    }
    return *environment->samples_;
}

const PhotoRun& photoRun() {
    if (!environment->photos_) {
        environment->photos_ = makePhotoRun(environment->options_);
    }
    return *environment->photos_;
}

std::string missingModel() {
    std::error_code error;
    return fs::is_directory(options().modelDirectory, error) ? std::string()
                                                             : "Helmet model not found at: " + options().modelDirectory;
}

std::vector<std::string> splitLabelMap(const std::string& labelMap) {
    std::vector<std::string> names;
    std::stringstream in(labelMap);
    std::string name;
    while (std::getline(in, name, ',')) {
        names.push_back(name);
    }
    return names;
}

Detector::~Detector() {
    try {
        detector_->Destroy();
    } catch (...) {
        ADD_FAILURE() << "Destroy threw";
    }
}

bool Detector::load(float threshold) {
    return load(options().modelDirectory, threshold);
}

bool Detector::load(const std::string& modelDirectory, float threshold) {
    labelMap_.clear();
    bool ok = false;
    try {
        ok = detector_->Initialize(modelDirectory, threshold, labelMap_);
    } catch (...) {
        ADD_FAILURE() << "Initialize threw";
        return false;
    }
    if (!ok) {
        ADD_FAILURE() << "Initialize(" << modelDirectory << ", " << threshold << ") returned false";
        return false;
    }
    labels_ = splitLabelMap(labelMap_);
    return true;
}

std::optional<std::vector<CustomObject>> Detector::run(const cv::Mat& frame, const std::string& cameraId) {
    try {
        return detector_->RunInference(frame, cameraId);
    } catch (const std::exception& error) {
        ADD_FAILURE() << "RunInference(" << cameraId << ") threw: " << error.what();
    } catch (...) {
        ADD_FAILURE() << "RunInference(" << cameraId << ") threw";
    }
    return std::nullopt;
}

std::string describe(const CustomObject& object) {
    std::ostringstream text;
    text << "{classId " << object.classId << " '" << object.className << "' " << object.confidence << " ["
         << object.box.x << ", " << object.box.y << ", " << object.box.width << "x" << object.box.height << "]}";
    return text.str();
}

std::string differences(const std::vector<CustomObject>& expected, const std::vector<CustomObject>& actual) {
    std::ostringstream text;
    if (expected.size() != actual.size()) {
        text << expected.size() << " detections before, " << actual.size() << " now";
    }
    for (std::size_t i = 0; i < std::min(expected.size(), actual.size()); ++i) {
        const CustomObject& a = expected[i];
        const CustomObject& b = actual[i];
        const bool sameConfidence =
            a.confidence == b.confidence || (std::isnan(a.confidence) && std::isnan(b.confidence));
        if (a.classId != b.classId || a.className != b.className || !sameConfidence || a.box != b.box) {
            text << (text.tellp() > 0 ? "; " : "") << "detection " << i << ": " << describe(a) << " then "
                 << describe(b);
        }
    }
    return text.str();
}

std::string differencesWithin(const std::vector<CustomObject>& expected, const std::vector<CustomObject>& actual,
                              int pixels) {
    std::vector<bool> taken(actual.size(), false);
    std::ostringstream text;
    const auto near = [pixels](int a, int b) { return std::abs(a - b) <= pixels; };
    for (const CustomObject& a : expected) {
        bool found = false;
        for (std::size_t j = 0; j < actual.size() && !found; ++j) {
            const CustomObject& b = actual[j];
            if (!taken[j] && a.classId == b.classId && near(a.box.x, b.box.x) && near(a.box.y, b.box.y) &&
                near(a.box.br().x, b.box.br().x) && near(a.box.br().y, b.box.br().y)) {
                taken[j] = true;
                found = true;
            }
        }
        if (!found) {
            text << (text.tellp() > 0 ? "; " : "") << "no match for " << describe(a);
        }
    }
    for (std::size_t j = 0; j < actual.size(); ++j) {
        if (!taken[j]) {
            text << (text.tellp() > 0 ? "; " : "") << "unexpected " << describe(actual[j]);
        }
    }
    return text.str();
}

long residentKilobytes() {
    return static_cast<long>(tools::currentResidentMegabytes() * 1024.0);
}

void releaseFreeMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace zor::cert
