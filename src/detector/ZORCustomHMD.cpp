// Plugin adapter: ZORCustomHMD on top of the helmet engine. Nothing throws
// across this boundary; failures are false results and empty lists.
#include "ZORCustomHMD.h"

#include "HelmetEngine.h"

#include <iostream>
#include <sstream>

struct ZORCustomHMD::State {
    hmd::HelmetEngine engine;
};

namespace {

std::string joinNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) {
        joined += (joined.empty() ? "" : ",") + name;
    }
    return joined;
}

void reportFailure(const char* operation, const std::string& cause) noexcept {
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
CustomParams describe(const hmd::EngineConfiguration& configuration) {
    const hmd::ModelManifest& manifest = configuration.manifest;
    std::ostringstream threshold;
    threshold << configuration.threshold;
    CustomParams params;
    params.texts = {"ZORCustomHMD", configuration.loaded ? "loaded" : "no model"};
    params.textEntries = {
        setting("threshold", threshold.str()),
        setting("input_size", configuration.loaded ? std::to_string(manifest.inputSize.width) + "x" +
                                                         std::to_string(manifest.inputSize.height)
                                                   : ""),
        setting("layout", configuration.loaded ? hmd::layoutName(manifest.layout) : ""),
        setting("classes", joinNames(manifest.classNames), manifest.classNames),
        setting("model_path", configuration.modelDirectory.string()),
        setting("backend", configuration.computeTarget),
    };
    return params;
}

}  // namespace

ZORCustomHMD::ZORCustomHMD() : state(std::make_unique<State>()) {}

ZORCustomHMD::~ZORCustomHMD() = default;

bool ZORCustomHMD::Initialize(const std::string& modelDirectory, float minConfidence, std::string& labelMap) {
    try {
        std::string error;
        if (!state->engine.load(modelDirectory, minConfidence, error)) {
            modelInfo.clear();
            reportFailure("Initialize", error);
            return false;
        }
        const hmd::EngineConfiguration configuration = state->engine.configuration();
        const hmd::ModelManifest& manifest = configuration.manifest;
        labelMap = joinNames(manifest.classNames);
        threshold = minConfidence;
        modelInfo = manifest.onnxPath.filename().string() + " " + std::to_string(manifest.inputSize.width) + "x" +
                    std::to_string(manifest.inputSize.height) + " " + hmd::layoutName(manifest.layout) + " [" +
                    labelMap + "]";
        SetParameters(describe(configuration));
        return true;
    } catch (const std::exception& e) {
        state->engine.unload();
        reportFailure("Initialize", e.what());
    } catch (...) {
        state->engine.unload();
        reportFailure("Initialize", "unknown error");
    }
    return false;
}

bool ZORCustomHMD::OptimizeModel(bool option) {
    try {
        return state->engine.optimize(option);
    } catch (const std::exception& e) {
        reportFailure("OptimizeModel", e.what());
    } catch (...) {
        reportFailure("OptimizeModel", "unknown error");
    }
    return false;
}

std::vector<CustomObject> ZORCustomHMD::RunInference(const cv::Mat& frame, const std::string& cameraId) {
    try {
        std::vector<CustomObject> objects;
        for (hmd::Detection& detection : state->engine.detect(frame)) {
            CustomObject& object = objects.emplace_back();
            object.classId = detection.classId;
            object.className = std::move(detection.className);
            object.confidence = detection.confidence;
            object.box = detection.box;
            object.tagText = cameraId;
        }
        return objects;
    } catch (const std::exception& e) {
        reportFailure("RunInference", e.what());
    } catch (...) {
        reportFailure("RunInference", "unknown error");
    }
    return {};
}

std::vector<CustomObject> ZORCustomHMD::RunInference(const cv::Mat& frame) {
    return RunInference(frame, std::string());
}

bool ZORCustomHMD::ConfigureParameters(CustomParams& params) {
    try {
        params = describe(state->engine.configuration());
        return true;
    } catch (const std::exception& e) {
        reportFailure("ConfigureParameters", e.what());
    } catch (...) {
        reportFailure("ConfigureParameters", "unknown error");
    }
    return false;
}

bool ZORCustomHMD::Destroy() {
    try {
        state->engine.unload();
        modelInfo.clear();
        return true;
    } catch (...) {
        return false;
    }
}
