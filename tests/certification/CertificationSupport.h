// What the certification tests share: the program's options, the detector
// under test with its life cycle, and the video and photo runs that several
// tests read (made once per process, on first use).
#pragma once

#include "CallTiming.h"
#include "ZORCustomHMD.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zor::cert {

// What a site camera does to frames (CertifiedRobustness); parsed apart from
// the other options.
struct RobustnessOptions {
    // Labelled photos whose images without a helmet add to the false-alarm test.
    std::string sitePhotos;
    std::string siteClasses = "0:helmet,1:head";
    // Per camera condition: the least mean AP50 on the changed photos, and the
    // least share of the clean photos' mean AP50 that it keeps.
    std::map<std::string, double> floors{{"gray", 0.60},    {"dark", 0.80}, {"motion", 0.73},
                                         {"defocus", 0.79}, {"jpeg", 0.79}, {"half", 0.80}};
    std::map<std::string, double> keptFloors{{"gray", 0.70},    {"dark", 0.93}, {"motion", 0.86},
                                             {"defocus", 0.92}, {"jpeg", 0.92}, {"half", 0.93}};
    std::map<std::string, double> smallFloors{{"helmet", 0.74}, {"head", 0.84}};
    double falseHelmetsPerImage = 0.15;  // at the operating threshold, on images without a hard hat
};

// Frame-to-frame behaviour on the video and per-call resources
// (CertifiedStability, CertifiedResources); parsed apart from the other options.
struct StabilityOptions {
    // Ceilings: the share of tracked objects whose detection drops out for a
    // few frames and returns, and the median frame-to-frame change of the
    // boxes' offsets from the ground truth, relative to the object's height.
    double dropoutShare = 0.34;
    double jitterShare = 0.02;
    int inferenceCalls = 60;  // calls of the per-call memory test
    double callMemoryBudgetMb = 1.0;
};

struct Options {
    // The contract program's own names, relative to the working folder.
    std::string modelDirectory = "C:\\Programs\\DemoAssets\\ModelsForTELMAR\\ZOR_Helmet(GPU)_v1.0";
    std::string video = "C:\\Programs\\DemoAssets\\Videos\\Helmet\\HM2.mp4";
    std::string videoLabels;  // the renderer's ground truth of the video
    std::string photos;       // a YOLO folder: images/ and labels/
    std::string photoClasses = "1:helmet,0:head";
    std::map<std::string, double> videoFloors{{"helmet", 0.97}, {"head", 0.93}};
    std::map<std::string, double> photoFloors{{"helmet", 0.80}, {"head", 0.80}};
    float detectThreshold = 0.05f;  // what the accuracy runs pass to Initialize
    int frames = 300;               // video frames of the video run
    int photoCount = 0;             // the first N photos in name order; 0: all
    int cycles = 200;               // Initialize/Destroy cycles of the memory test
    double memoryBudgetMb = 2.0;
    double latencyBudgetMs = 200.0;
    RobustnessOptions robustness;
    StabilityOptions stability;
};

// Reads "--name=value" or "--name value" options; returns the problem, or an
// empty string. Unknown options are problems too.
std::string parseOptions(int argc, char** argv, Options& options);
std::string usage();

const Options& options();
void setOptions(Options options);

// One detector under test, destroyed on every way out.
class Detector {
public:
    Detector() = default;
    ~Detector();
    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;

    // Initialize with the model of the options; false (with a failure
    // recorded) when the library refuses it.
    bool load(float threshold);
    bool load(const std::string& modelDirectory, float threshold);
    ZORCustomHMD& get() { return *detector_; }
    const std::vector<std::string>& labels() const { return labels_; }
    const std::string& labelMap() const { return labelMap_; }

    // RunInference; an exception escaping it is recorded as a failure and
    // returns nothing.
    std::optional<std::vector<CustomObject>> run(const cv::Mat& frame, const std::string& cameraId);

private:
    std::unique_ptr<ZORCustomHMD> detector_ = std::make_unique<ZORCustomHMD>();
    std::string labelMap_;
    std::vector<std::string> labels_;
};

// Names separated by commas; a trailing comma adds none.
std::vector<std::string> splitLabelMap(const std::string& labelMap);

// One frame of a run: what came back and how long the call took.
struct FrameResult {
    cv::Size size;
    std::vector<CustomObject> objects;
    CallTime time;
    bool threw = false;
};

// The video, decoded once, each frame run once with the frame-only call on a
// detector loaded at the detect threshold. Keeps a few decoded frames with at
// least two detections (spread over the video) for the tests that need real
// frames; videoSamples() reads only as far as it needs for those.
struct VideoRun {
    bool available = false;  // false: see `missing`
    std::string missing;
    bool opened = false;
    bool loaded = false;    // Initialize accepted the model
    std::string shortfall;  // the video ended before the frames its header gives: why
    std::vector<std::string> labels;
    std::vector<FrameResult> frames;
    MachineLoad load;  // while the frames ran
    std::vector<cv::Mat> sampleFrames;
};

// The photo sample, each image run once with a camera identifier.
struct PhotoRun {
    bool available = false;
    std::string missing;
    std::string problem;  // set when the folder exists but cannot be used
    bool loaded = false;
    std::vector<std::string> labels;
    std::vector<std::string> names;
    std::vector<cv::Mat> images;
    std::vector<FrameResult> results;
};

const VideoRun& videoRun();
const VideoRun& videoSamples();
const PhotoRun& photoRun();

// "" when the model directory is there, otherwise why the test cannot run.
std::string missingModel();

// Exact equality of two result lists, in order (a confidence that is not a
// number equals itself: its range is the contract's concern); otherwise what
// differs.
std::string differences(const std::vector<CustomObject>& expected, const std::vector<CustomObject>& actual);

// Same classes and every box edge within `pixels`, in any order; otherwise
// what differs.
std::string differencesWithin(const std::vector<CustomObject>& expected, const std::vector<CustomObject>& actual,
                              int pixels);

std::string describe(const CustomObject& object);

// Resident set size of this process in kilobytes; -1 where unknown.
long residentKilobytes();

// Hands free heap memory back to the system, so that what an earlier test
// freed cannot hide memory that a test's calls keep.
void releaseFreeMemory();

// Frames with at least two detections, for the tests that compare results.
inline constexpr std::size_t kCompareFrames = 3;
// What the platform alarms at.
inline constexpr float kOperatingThreshold = 0.6f;

// The tests' common openings; they expand inside a test body.
#define SKIP_WITHOUT_MODEL()                                            \
    if (const std::string missing = missingModel(); !missing.empty()) { \
        GTEST_SKIP() << missing;                                        \
    }

// A few real frames from the video; skips the test when there is none.
#define REAL_FRAMES(frames)                                                            \
    SKIP_WITHOUT_MODEL();                                                              \
    const VideoRun& video_ = videoSamples();                                           \
    if (!video_.available) {                                                           \
        GTEST_SKIP() << video_.missing << " (the test needs real frames)";             \
    }                                                                                  \
    ASSERT_TRUE(video_.opened) << "cannot open the video " << options().video;         \
    ASSERT_TRUE(video_.loaded) << "Initialize refused the model";                      \
    ASSERT_FALSE(video_.sampleFrames.empty()) << "no video frame gave two detections"; \
    const std::vector<cv::Mat> frames(                                                 \
        video_.sampleFrames.begin(),                                                   \
        video_.sampleFrames.begin() + static_cast<long>(std::min(kCompareFrames, video_.sampleFrames.size())))

}  // namespace zor::cert
