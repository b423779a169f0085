// The plugin's behaviour at its boundary: every operation of the detector
// interface on top of the engine, with failures turned into false results and
// empty lists, and the base class's fields kept up to date.
#pragma once

#include "HelmetEngine.h"
#include "IZORCustomClass.h"

namespace zor::hmd {

class HelmetPlugin {
public:
    // `base` is the detector object whose modelInfo, threshold and parameters
    // describe the loaded model; it must outlive the plugin.
    explicit HelmetPlugin(IZORCustomClass& base);

    bool initialize(const std::string& modelDirectory, float minConfidence, std::string& labelMap) noexcept;
    bool optimize(bool fastest) noexcept;
    std::vector<CustomObject> runInference(const cv::Mat& frame, const std::string& cameraId) noexcept;
    bool configure(CustomParams& params) noexcept;
    bool destroy() noexcept;

private:
    void forgetModel() noexcept;
    IZORCustomClass& base_;
    HelmetEngine engine_;
};

}  // namespace zor::hmd
