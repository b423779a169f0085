// A detector initialised for the length of a run, used through the plugin
// interface only: the model folder checked, Initialize with the library's own
// std::cerr held back, Destroy on the way out whatever happens.
#pragma once

#include "IZORCustomClass.h"

#include <string>
#include <vector>

namespace zor::tools {

// Initialize on `plugin`, filling `labelMap`. Throws UserError "model folder
// not found: DIR" or "cannot load the model in DIR (reason)", the reason being
// what the library wrote to std::cerr.
void initializeDetector(IZORCustomClass& plugin, const std::string& modelDirectory, float threshold,
                        std::string& labelMap);

class InitialisedDetector {
public:
    // Throws as initializeDetector.
    InitialisedDetector(IZORCustomClass& plugin, const std::string& modelDirectory, float threshold);
    ~InitialisedDetector();
    InitialisedDetector(const InitialisedDetector&) = delete;
    InitialisedDetector& operator=(const InitialisedDetector&) = delete;

    IZORCustomClass& plugin() { return plugin_; }
    // The label map Initialize filled, e.g. "helmet,head".
    const std::string& labelMap() const { return labelMap_; }

    std::vector<CustomObject> detect(const cv::Mat& frame, const std::string& cameraId) {
        return plugin_.RunInference(frame, cameraId);
    }

private:
    IZORCustomClass& plugin_;
    std::string labelMap_;
};

}  // namespace zor::tools
