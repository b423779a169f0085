// The detector under test for the length of a run, used through the plugin
// interface only: Initialize on construction, Destroy on the way out.
#pragma once

#include "ZORCustomHMD.h"

#include <string>
#include <vector>

namespace zor::eval {

class PluginDetector {
public:
    // Throws tools::UserError when the folder is missing or Initialize returns false.
    PluginDetector(const std::string& modelDirectory, float threshold, bool optimize);
    ~PluginDetector();
    PluginDetector(const PluginDetector&) = delete;
    PluginDetector& operator=(const PluginDetector&) = delete;

    // The label map Initialize filled, e.g. "helmet,head".
    const std::string& labelMap() const { return labelMap_; }

    std::vector<CustomObject> detect(const cv::Mat& frame, const std::string& cameraId);

private:
    ZORCustomHMD library_;
    IZORCustomClass& plugin_;
    std::string labelMap_;
};

}  // namespace zor::eval
