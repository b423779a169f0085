#include "PluginDetector.h"

#include "CerrCapture.h"
#include "ToolExit.h"

#include <filesystem>
#include <stdexcept>

namespace zor::eval {

using zor::tools::CerrCapture;

PluginDetector::PluginDetector(const std::string& modelDirectory, float threshold, bool optimize) : plugin_(library_) {
    std::error_code error;
    if (!std::filesystem::is_directory(modelDirectory, error)) {
        throw tools::UserError("model folder not found: " + modelDirectory);
    }
    bool loaded = false;
    std::string reason;
    {
        CerrCapture capture;
        loaded = plugin_.Initialize(modelDirectory, threshold, labelMap_);
        reason = capture.text();
    }
    if (!loaded) {
        throw tools::UserError("cannot load the model in " + modelDirectory +
                               (reason.empty() ? std::string(" (Initialize returned false)") : " (" + reason + ")"));
    }
    if (optimize && !plugin_.OptimizeModel(true)) {
        plugin_.Destroy();
        throw std::runtime_error("OptimizeModel(true) returned false for " + modelDirectory);
    }
}

PluginDetector::~PluginDetector() {
    plugin_.Destroy();
}

std::vector<CustomObject> PluginDetector::detect(const cv::Mat& frame, const std::string& cameraId) {
    return plugin_.RunInference(frame, cameraId);
}

}  // namespace zor::eval
