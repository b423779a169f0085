// A ZORCustomHMD that behaves like the reference detector except for the one
// fault HMD_FAULT names when the library loads. It runs the reference plugin code
// and bends only what the fault is about.
#include "Faults.h"
#include "HelmetPlugin.h"
#include "ZORCustomHMD.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

const Fault fault = chosenFault();

CustomObject phantomHelmet(const std::string& cameraId) {
    CustomObject object;
    object.className = "helmet";
    object.confidence = 0.9f;
    object.box = cv::Rect(0, 0, 4, 4);
    object.tagText = cameraId;
    return object;
}

bool isUniform(const cv::Mat& frame) {
    if (frame.empty() || frame.channels() != 3) {
        return false;
    }
    cv::Scalar mean;
    cv::Scalar deviation;
    cv::meanStdDev(frame, mean, deviation);
    return deviation[0] == 0.0 && deviation[1] == 0.0 && deviation[2] == 0.0;
}

// A night or infrared camera: every pixel has equal channels.
bool isGrayscale(const cv::Mat& frame) {
    if (frame.empty() || frame.channels() != 3) {
        return false;
    }
    cv::Mat channels[3];
    cv::split(frame, channels);
    return cv::countNonZero(channels[0] != channels[1]) == 0 && cv::countNonZero(channels[1] != channels[2]) == 0;
}

// Dusk and unlit corners: a mean brightness a fifth of full scale or less.
bool isDark(const cv::Mat& frame) {
    if (frame.empty() || frame.channels() != 3) {
        return false;
    }
    const cv::Scalar mean = cv::mean(frame);
    return (mean[0] + mean[1] + mean[2]) / 3.0 < 50.0;
}

// Where a frame shows no helmet at all (none at any confidence the caller
// asked for), its bare heads are reported as helmets too, at the heads'
// confidences: a classifier that leans to the helmet class. Few photos of a
// site lack every helmet, but those are crowds of bare heads.
void addHelmetsOnBareHeads(std::vector<CustomObject>& objects, const std::string& labelMap) {
    const auto isHelmet = [](const CustomObject& object) { return object.className == "helmet"; };
    if (std::any_of(objects.begin(), objects.end(), isHelmet)) {
        return;
    }
    int helmetId = 0;
    for (std::size_t start = 0, index = 0; start <= labelMap.size(); ++index) {
        const std::size_t comma = std::min(labelMap.find(',', start), labelMap.size());
        if (labelMap.compare(start, comma - start, "helmet") == 0) {
            helmetId = static_cast<int>(index);
        }
        start = comma + 1;
    }
    const std::size_t count = objects.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (objects[i].className == "head") {
            CustomObject helmet = objects[i];
            helmet.className = "helmet";
            helmet.classId = helmetId;
            objects.push_back(helmet);
        }
    }
}

// A number in [0, 1) fixed by the frame's content: the same frame always gives
// the same one, so the consistency tests stay blind to what it drives.
double contentHash(const cv::Mat& frame) {
    const cv::Scalar sum = cv::sum(frame);
    const auto bits = static_cast<std::uint64_t>(sum[0] + 3.0 * sum[1] + 7.0 * sum[2]) * 0x9E3779B97F4A7C15ull;
    return static_cast<double>(bits >> 11) / static_cast<double>(1ull << 53);
}

// A camera's HD stream, where the video faults show.
bool isVideoFrame(const cv::Mat& frame) {
    return frame.cols >= 1280 && frame.channels() == 3;
}

bool isModelDirectory(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// Moves a box by its own width, kept inside the frame: well formed, wrong place.
void misplace(cv::Rect& box, const cv::Mat& frame) {
    box.x = std::clamp(box.x + box.width, 0, std::max(0, frame.cols - box.width));
}

// What an unclipped box at the frame's edge looks like.
void overhang(cv::Rect& box, const cv::Mat& frame) {
    constexpr int pixels = 4;
    if (box.x == 0) {
        box.x -= pixels;
        box.width += pixels;
    }
    if (box.y == 0) {
        box.y -= pixels;
        box.height += pixels;
    }
    if (box.x + box.width == frame.cols) {
        box.width += pixels;
    }
    if (box.y + box.height == frame.rows) {
        box.height += pixels;
    }
}

}  // namespace

struct ZORCustomHMD::State {
    explicit State(IZORCustomClass& base) : plugin(base) {}
    zor::hmd::HelmetPlugin plugin;
    bool loaded = false;
    bool initializeFailed = false;
    int destroyCalls = 0;
    bool optimized = false;
    std::string labelMap;
    std::vector<std::vector<char>> leaked;
    // A record per inference call, kept until Destroy.
    std::mutex historyLock;
    std::vector<std::vector<char>> history;
    std::mutex serialised;
    // What the last call returned, and on which frame and camera.
    std::mutex lastCall;
    const uchar* lastFrame = nullptr;
    std::string lastCamera;
    std::vector<CustomObject> lastObjects;
    std::atomic<int> inFlight{0};
    std::atomic<long> frameOnlyCalls{0};
};

ZORCustomHMD::ZORCustomHMD() : state(std::make_unique<State>(*this)) {}

ZORCustomHMD::~ZORCustomHMD() {
    if (fault == Fault::DestructorCrashesAfterFailedInitialize && state->initializeFailed) {
        std::abort();
    }
}

bool ZORCustomHMD::Initialize(const std::string& modelDirectory, float minConfidence, std::string& labelMap) {
    if (fault == Fault::InitializeRejectsRealModel) {
        return false;
    }
    if (fault == Fault::SecondInitializeKeepsTheFirstModel && state->loaded && isModelDirectory(modelDirectory)) {
        labelMap = state->labelMap;
        return true;
    }
    if (fault == Fault::FailedInitializeKeepsTheOldModel && state->loaded && !isModelDirectory(modelDirectory)) {
        return false;
    }
    const bool ok = state->plugin.initialize(modelDirectory, minConfidence, labelMap);
    state->loaded = ok;
    state->initializeFailed = !ok;
    state->optimized = false;
    state->labelMap = labelMap;
    if (fault == Fault::NoModelAfterReinitialize && ok && state->destroyCalls > 0) {
        state->plugin.destroy();
    }
    if (fault == Fault::LeaksOnInitialize && ok) {
        state->leaked.emplace_back(512 * 1024, '\1');
    }
    if (fault == Fault::DuplicateLabelName && ok) {
        const std::string first = labelMap.substr(0, labelMap.find(','));
        labelMap.append(",").append(first);
    }
    if (fault == Fault::InitializeAcceptsMissingDirectory && !ok) {
        return true;
    }
    if (fault == Fault::EmptyLabelMap && ok) {
        labelMap.clear();
    }
    return ok;
}

bool ZORCustomHMD::OptimizeModel(bool option) {
    const bool ok = state->plugin.optimize(option);
    state->optimized = ok && option;
    return fault == Fault::OptimizeWithoutModelSucceeds && !state->loaded ? true : ok;
}

std::vector<CustomObject> ZORCustomHMD::RunInference(const cv::Mat& frame, const std::string& cameraId) {
    std::unique_lock lock(state->serialised, std::defer_lock);
    if (fault == Fault::SerialisedInference ||
        (fault == Fault::SerialisesVeryLargeFrames && frame.total() >= 3840u * 2160u)) {
        lock.lock();
    }
    if (fault == Fault::LeaksOnEachInferenceCall && state->loaded) {
        std::lock_guard guard(state->historyLock);
        state->history.emplace_back(512 * 1024, '\1');
    }
    if (!state->loaded) {
        const bool phantom =
            (fault == Fault::DetectsOnEmptyFrameWithoutModel && frame.empty()) ||
            (fault == Fault::DetectsOnTinyFrameWithoutModel && frame.rows == 5 && frame.cols == 5) ||
            (fault == Fault::DetectsOnVgaFrameWithoutModel && frame.rows == 480 && frame.cols == 640) ||
            (fault == Fault::DetectsWithCameraIdWithoutModel && !cameraId.empty());
        if (phantom) {
            return {phantomHelmet(cameraId)};
        }
    } else {
        if (fault == Fault::ThrowsOnLargeFrame && frame.rows >= 2160) {
            throw std::runtime_error("injected fault: frame too large");
        }
        if (fault == Fault::ThrowsInConcurrentCalls && cameraId.rfind("cam_", 0) == 0) {
            throw std::runtime_error("injected fault: concurrent call");
        }
        if (fault == Fault::DetectsOnSolidFrame && isUniform(frame)) {
            return {phantomHelmet(cameraId)};
        }
        if ((fault == Fault::FailsOnGrayscaleFrames && isGrayscale(frame)) ||
            (fault == Fault::FailsOnDarkFrames && isDark(frame))) {
            return {};
        }
    }
    const int concurrent = ++state->inFlight;
    std::vector<CustomObject> objects = state->plugin.runInference(frame, cameraId);
    --state->inFlight;
    {
        std::lock_guard guard(state->lastCall);
        const bool repeated = state->lastFrame == frame.data && state->lastCamera == cameraId;
        std::vector<CustomObject> previous = state->lastObjects;
        state->lastFrame = frame.data;
        state->lastCamera = cameraId;
        state->lastObjects = objects;
        if (fault == Fault::RepeatedFrameReordered && repeated) {
            std::reverse(objects.begin(), objects.end());
        }
        if (fault == Fault::ResultsCrossTalk && concurrent > 1 && !previous.empty()) {
            objects = previous;
        }
    }
    if (fault == Fault::CameraIdChangesDetections && cameraId.size() > 20 && !objects.empty()) {
        objects.pop_back();
    }
    if (fault == Fault::HelmetAlarmOnBareHeads) {
        addHelmetsOnBareHeads(objects, state->labelMap);
    }
    // COCO's small objects (under 32x32 px) held to a second, higher threshold;
    // in one variant only in frames wider than 320 px, as a library that
    // upscales small frames would.
    if (fault == Fault::MissesSmallHeads || (fault == Fault::MissesSmallHeadsInLargerFrames && frame.cols > 320)) {
        objects.erase(std::remove_if(objects.begin(), objects.end(),
                                     [](const CustomObject& object) {
                                         return object.box.area() < 32 * 32 && object.confidence < 0.7f;
                                     }),
                      objects.end());
    }
    // On about half the video frames every confidence is halved: at the
    // platform's threshold the objects vanish and return.
    if (fault == Fault::FlickersFromFrameToFrame && isVideoFrame(frame) && contentHash(frame) < 0.5) {
        for (CustomObject& object : objects) {
            object.confidence *= 0.5f;
        }
    }
    // Boxes on video frames moved by up to a tenth of their height, a new
    // amount every frame.
    if (fault == Fault::JittersBoxes && isVideoFrame(frame)) {
        const double shift = (contentHash(frame) * 2.0 - 1.0) * 0.1;
        for (CustomObject& object : objects) {
            cv::Rect& box = object.box;
            const int step = static_cast<int>(std::lround(shift * box.height));
            box.x = std::clamp(box.x + step, 0, std::max(0, frame.cols - box.width));
            box.y = std::clamp(box.y + step, 0, std::max(0, frame.rows - box.height));
        }
    }
    for (CustomObject& object : objects) {
        switch (fault) {
            case Fault::ConfidenceAboveOne:
                object.confidence += 1.0f;
                break;
            case Fault::ConfidenceNotANumber:
                object.confidence = std::numeric_limits<float>::quiet_NaN();
                break;
            case Fault::NegativeBoxWidth:
                object.box.width = -object.box.width;
                break;
            case Fault::NegativeClassId:
                object.classId = -1;
                break;
            case Fault::BoxesOutsideTheFrame:
                object.box.x -= frame.cols;
                break;
            case Fault::UnclippedEdgeBoxes:
                overhang(object.box, frame);
                break;
            case Fault::ClassIdPastTheLabelMap:
                object.classId += 2;
                break;
            case Fault::ClassNameOfTheOtherClass:
                object.className = object.className == "helmet" ? "head" : "helmet";
                break;
            case Fault::MisplacedBoxesOnWideFrames:
                if (frame.cols >= 1280) {
                    misplace(object.box, frame);
                }
                break;
            case Fault::MisplacedBoxesOnSmallFrames:
                if (frame.cols < 1280) {
                    misplace(object.box, frame);
                }
                break;
            case Fault::OptimizeMovesBoxes:
                if (state->optimized) {
                    object.box.x += 3;
                }
                break;
            default:
                break;
        }
    }
    return objects;
}

std::vector<CustomObject> ZORCustomHMD::RunInference(const cv::Mat& frame) {
    if (fault == Fault::SlowInference && state->loaded) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    // Rare enough that the mean stays far under the budget.
    if (fault == Fault::StallsNowAndThen && state->loaded && ++state->frameOnlyCalls % 10 == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return RunInference(frame, std::string());
}

bool ZORCustomHMD::ConfigureParameters(CustomParams& params) {
    const bool ok = state->plugin.configure(params);
    if (fault == Fault::ConfigureReportsAnotherThreshold) {
        for (ParamTextEntry& entry : params.textEntries) {
            if (entry.text1 == "threshold") {
                entry.text2 = "0.5";
            }
        }
    }
    return fault == Fault::ConfigureParametersFails ? false : ok;
}

bool ZORCustomHMD::Destroy() {
    const bool ok = state->plugin.destroy();
    {
        std::lock_guard guard(state->historyLock);
        state->history.clear();
    }
    state->loaded = false;
    ++state->destroyCalls;
    if ((fault == Fault::FirstDestroyFails && state->destroyCalls == 1) ||
        (fault == Fault::SecondDestroyFails && state->destroyCalls == 2)) {
        return false;
    }
    return ok;
}
