// A ZORCustomHMD that behaves like the reference detector except for the one
// fault its FaultChoice.cpp names (compiled per library, with HMD_FAULT). It runs the reference plugin code
// and bends only what the fault is about.
#include "Faults.h"
#include "HelmetPlugin.h"
#include "ZORCustomHMD.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

const Fault& fault = kChosenFault;

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

}  // namespace

struct ZORCustomHMD::State {
    explicit State(IZORCustomClass& base) : plugin(base) {}
    zor::hmd::HelmetPlugin plugin;
    bool loaded = false;
    bool initializeFailed = false;
    int destroyCalls = 0;
    std::mutex serialised;
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
    const bool ok = state->plugin.initialize(modelDirectory, minConfidence, labelMap);
    state->loaded = ok;
    state->initializeFailed = !ok;
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
    return fault == Fault::OptimizeWithoutModelSucceeds && !state->loaded ? true : ok;
}

std::vector<CustomObject> ZORCustomHMD::RunInference(const cv::Mat& frame, const std::string& cameraId) {
    std::unique_lock lock(state->serialised, std::defer_lock);
    if (fault == Fault::SerialisedInference) {
        lock.lock();
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
    }
    std::vector<CustomObject> objects = state->plugin.runInference(frame, cameraId);
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
    return RunInference(frame, std::string());
}

bool ZORCustomHMD::ConfigureParameters(CustomParams& params) {
    const bool ok = state->plugin.configure(params);
    return fault == Fault::ConfigureParametersFails ? false : ok;
}

bool ZORCustomHMD::Destroy() {
    const bool ok = state->plugin.destroy();
    state->loaded = false;
    ++state->destroyCalls;
    if ((fault == Fault::FirstDestroyFails && state->destroyCalls == 1) ||
        (fault == Fault::SecondDestroyFails && state->destroyCalls == 2)) {
        return false;
    }
    return ok;
}
