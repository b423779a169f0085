// The detector's pipeline (pre-process, forward, decode) and its life cycle.
// Inference calls share the loaded model; loading, unloading and optimising
// wait until no inference is running.
#pragma once

#include "ModelManifest.h"
#include "NetworkPool.h"

#include <opencv2/core.hpp>

#include <filesystem>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace zor::hmd {

struct Detection {
    int classId = 0;
    std::string className;
    float confidence = 0.0f;
    cv::Rect box;
};

struct EngineConfiguration {
    bool loaded = false;
    float threshold = 0.5f;
    std::filesystem::path modelDirectory;
    ModelManifest manifest;
    std::string computeTarget;
    int threads = 1;          // threads one call may use
    std::string backendNote;  // why `auto` runs the model on OpenCV DNN, if it does
};

class HelmetEngine {
public:
    HelmetEngine();
    ~HelmetEngine();

    // Replaces the current model. On failure the engine is left without a
    // model and `error` names the file and the cause.
    bool load(const std::filesystem::path& modelDirectory, float threshold, std::string& error);
    void unload();

    // Empty without a model, and for frames that cannot hold an object.
    std::vector<Detection> detect(const cv::Mat& frame) const;

    // `fastest`: the fastest backend this build offers for the model, with a
    // warmed network per core; otherwise the backend chosen at loading. False
    // without a model.
    bool optimize(bool fastest);

    EngineConfiguration configuration() const;

private:
    struct LoadedModel;

    static std::unique_ptr<LoadedModel> makeModel(const std::filesystem::path& modelDirectory, float threshold,
                                                  std::string& error);

    std::shared_lock<std::shared_mutex> lockForInference() const;
    std::unique_lock<std::shared_mutex> lockForChange();

    // Inference holds `lifecycle_` shared and changes hold it exclusively. A
    // change holds `turnstile_` while it waits, so that a steady stream of
    // inference calls cannot starve it.
    mutable std::mutex turnstile_;
    mutable std::shared_mutex lifecycle_;
    std::unique_ptr<LoadedModel> model_;
};

}  // namespace zor::hmd
