#include "PluginDetector.h"

#include "UserError.h"

#include <filesystem>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace heval {

namespace {

// Keeps what the library writes to std::cerr while it lives, so that a failed
// Initialize gives one line on standard error rather than two.
class CerrCapture {
public:
    CerrCapture() : previous_(std::cerr.rdbuf(captured_.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(previous_); }
    CerrCapture(const CerrCapture&) = delete;
    CerrCapture& operator=(const CerrCapture&) = delete;

    std::string text() const {
        std::istringstream lines(captured_.str());
        std::string joined;
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty()) {
                joined += (joined.empty() ? "" : "; ") + line;
            }
        }
        return joined;
    }

private:
    std::ostringstream captured_;
    std::streambuf* previous_;
};

}  // namespace

PluginDetector::PluginDetector(const std::string& modelDirectory, float threshold, bool optimize) : plugin_(library_) {
    std::error_code error;
    if (!std::filesystem::is_directory(modelDirectory, error)) {
        throw UserError("model folder not found: " + modelDirectory);
    }
    bool loaded = false;
    std::string reason;
    {
        CerrCapture capture;
        loaded = plugin_.Initialize(modelDirectory, threshold, labelMap_);
        reason = capture.text();
    }
    if (!loaded) {
        throw UserError("cannot load the model in " + modelDirectory +
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

}  // namespace heval
