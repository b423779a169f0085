// The exported detector class: a thin shell over the plugin behaviour, so the
// public header stays the same when the implementation changes.
#include "ZORCustomHMD.h"

#include "HelmetPlugin.h"

struct ZORCustomHMD::State {
    explicit State(IZORCustomClass& base) : plugin(base) {}
    zor::hmd::HelmetPlugin plugin;
};

ZORCustomHMD::ZORCustomHMD() : state(std::make_unique<State>(*this)) {}

ZORCustomHMD::~ZORCustomHMD() = default;

bool ZORCustomHMD::Initialize(const std::string& modelDirectory, float minConfidence, std::string& labelMap) {
    return state->plugin.initialize(modelDirectory, minConfidence, labelMap);
}

bool ZORCustomHMD::OptimizeModel(bool option) {
    return state->plugin.optimize(option);
}

std::vector<CustomObject> ZORCustomHMD::RunInference(const cv::Mat& frame, const std::string& cameraId) {
    return state->plugin.runInference(frame, cameraId);
}

std::vector<CustomObject> ZORCustomHMD::RunInference(const cv::Mat& frame) {
    return state->plugin.runInference(frame, std::string());
}

bool ZORCustomHMD::ConfigureParameters(CustomParams& params) {
    return state->plugin.configure(params);
}

bool ZORCustomHMD::Destroy() {
    return state->plugin.destroy();
}
