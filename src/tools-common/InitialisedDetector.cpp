#include "InitialisedDetector.h"

#include "CerrCapture.h"
#include "ToolExit.h"

#include <filesystem>
#include <system_error>

namespace zor::tools {

void initializeDetector(IZORCustomClass& plugin, const std::string& modelDirectory, float threshold,
                        std::string& labelMap) {
    std::error_code error;
    if (!std::filesystem::is_directory(modelDirectory, error)) {
        throw UserError("model folder not found: " + modelDirectory);
    }
    bool loaded = false;
    std::string reason;
    {
        const CerrCapture capture;
        loaded = plugin.Initialize(modelDirectory, threshold, labelMap);
        reason = capture.text();
    }
    if (!loaded) {
        throw UserError("cannot load the model in " + modelDirectory +
                        (reason.empty() ? std::string(" (Initialize returned false)") : " (" + reason + ")"));
    }
}

InitialisedDetector::InitialisedDetector(IZORCustomClass& plugin, const std::string& modelDirectory, float threshold)
    : plugin_(plugin) {
    initializeDetector(plugin_, modelDirectory, threshold, labelMap_);
}

InitialisedDetector::~InitialisedDetector() {
    plugin_.Destroy();
}

}  // namespace zor::tools
