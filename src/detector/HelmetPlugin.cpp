#include "HelmetPlugin.h"

#include <iostream>
#include <sstream>

namespace zor::hmd {
namespace {

std::string joinNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) {
        joined += (joined.empty() ? "" : ",") + name;
    }
    return joined;
}

void report(const char* operation, const std::string& cause) noexcept {
    try {
        std::cerr << "ZORCustomHMD::" << operation << ": " << cause << std::endl;
    } catch (...) {
    }
}

ParamTextEntry setting(std::string name, std::string value, std::vector<std::string> list = {}) {
    ParamTextEntry entry;
    entry.text1 = std::move(name);
    entry.text2 = std::move(value);
    entry.textList = std::move(list);
    return entry;
}

// The configuration as name/value entries: `text1` the name, `text2` the value.
CustomParams describe(const EngineConfiguration& configuration) {
    const ModelManifest& manifest = configuration.manifest;
    std::ostringstream threshold;
    threshold << configuration.threshold;
    CustomParams params;
    params.texts = {"ZORCustomHMD", configuration.loaded ? "loaded" : "no model"};
    params.textEntries = {
        setting("threshold", threshold.str()),
        setting("input_size", configuration.loaded ? std::to_string(manifest.inputSize.width) + "x" +
                                                         std::to_string(manifest.inputSize.height)
                                                   : ""),
        setting("layout", configuration.loaded ? layoutName(manifest.layout) : ""),
        setting("classes", joinNames(manifest.classNames), manifest.classNames),
        setting("model_path", configuration.modelDirectory.string()),
        setting("backend", configuration.computeTarget),
        setting("threads", configuration.loaded ? std::to_string(configuration.threads) : ""),
        setting("nms_mode", configuration.loaded ? suppressionScopeName(manifest.nmsScope) : ""),
        setting("model_version", manifest.modelVersion),
        setting("tiles", configuration.loaded ? std::to_string(manifest.tiles) : ""),
    };
    return params;
}

}  // namespace

HelmetPlugin::HelmetPlugin(IZORCustomClass& base) : base_(base) {}

bool HelmetPlugin::initialize(const std::string& modelDirectory, float minConfidence, std::string& labelMap) noexcept {
    try {
        std::string error;
        if (!engine_.load(modelDirectory, minConfidence, error)) {
            forgetModel();
            report("Initialize", error);
            return false;
        }
        const EngineConfiguration configuration = engine_.configuration();
        const ModelManifest& manifest = configuration.manifest;
        if (!configuration.backendNote.empty()) {
            report("Initialize", manifest.onnxPath.filename().string() + " runs on OpenCV DNN: oneDNN cannot (" +
                                     configuration.backendNote + ")");
        }
        labelMap = joinNames(manifest.classNames);
        base_.threshold = minConfidence;
        base_.modelInfo = manifest.onnxPath.filename().string() + " " + std::to_string(manifest.inputSize.width) + "x" +
                          std::to_string(manifest.inputSize.height) + " " + layoutName(manifest.layout) + " [" +
                          labelMap + "]";
        base_.SetParameters(describe(configuration));
        return true;
    } catch (const std::exception& e) {
        report("Initialize", e.what());
    } catch (...) {
        report("Initialize", "unknown error");
    }
    engine_.unload();
    forgetModel();
    return false;
}

bool HelmetPlugin::optimize(bool option) noexcept {
    try {
        return engine_.optimize(option);
    } catch (const std::exception& e) {
        report("OptimizeModel", e.what());
    } catch (...) {
        report("OptimizeModel", "unknown error");
    }
    return false;
}

std::vector<CustomObject> HelmetPlugin::runInference(const cv::Mat& frame, const std::string& cameraId) noexcept {
    try {
        std::vector<CustomObject> objects;
        for (Detection& detection : engine_.detect(frame)) {
            CustomObject& object = objects.emplace_back();
            object.classId = detection.classId;
            object.className = std::move(detection.className);
            object.confidence = detection.confidence;
            object.box = detection.box;
            object.tagText = cameraId;
        }
        return objects;
    } catch (const std::exception& e) {
        report("RunInference", e.what());
    } catch (...) {
        report("RunInference", "unknown error");
    }
    return {};
}

bool HelmetPlugin::configure(CustomParams& params) noexcept {
    try {
        params = describe(engine_.configuration());
        return true;
    } catch (const std::exception& e) {
        report("ConfigureParameters", e.what());
    } catch (...) {
        report("ConfigureParameters", "unknown error");
    }
    return false;
}

bool HelmetPlugin::destroy() noexcept {
    engine_.unload();
    forgetModel();
    return true;
}

// The public members describe the loaded model only: without one, nothing.
void HelmetPlugin::forgetModel() noexcept {
    base_.modelInfo.clear();
    base_.parameters = CustomParams();
}

}  // namespace zor::hmd
