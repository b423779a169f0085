// The model directory's manifest: which ONNX file to load and how to read it.
#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace zor::hmd {

// How the network's single output tensor is laid out.
enum class OutputLayout {
    YoloV5,  // [1, N, 5 + C]: cx, cy, w, h, objectness, class scores
    YoloV8,  // [1, 4 + C, N]: cx, cy, w, h, class scores
};

// Which boxes compete in non-maximum suppression.
enum class SuppressionScope {
    PerClass,       // only boxes of the same class
    ClassAgnostic,  // all boxes: one object gets one box, whatever its class
};

// Which engine runs the network.
enum class BackendChoice {
    Auto,    // oneDNN when this build has it and it supports the graph, else OpenCV DNN
    OneDnn,  // oneDNN or nothing: loading fails when it cannot run the graph
    OpenCv,  // OpenCV DNN
};

struct ModelManifest {
    static constexpr const char* kFileName = "model.yml";
    static constexpr int kSupportedVersion = 1;

    std::filesystem::path onnxPath;
    cv::Size inputSize;
    OutputLayout layout = OutputLayout::YoloV5;
    std::vector<std::string> classNames;
    float nmsIoU = 0.45f;
    SuppressionScope nmsScope = SuppressionScope::PerClass;  // optional key nms_mode
    int padValue = 114;
    std::string modelVersion;                     // optional key model_version, for people and reports
    BackendChoice backend = BackendChoice::Auto;  // optional key backend
    int threads = 1;                              // optional key threads: oneDNN threads per call
    int tiles = 1;  // optional key tiles: also an n x n grid of tiles on frames shrunk by more than half
};

const char* layoutName(OutputLayout layout);
const char* suppressionScopeName(SuppressionScope scope);
const char* backendChoiceName(BackendChoice choice);

// Parses and validates the text of a manifest into `manifest`; returns the
// cause of a failure, or nothing. The onnx_file it names is not looked at.
std::string parseManifestText(const std::string& text, ModelManifest& manifest);

// Reads and validates `<directory>/model.yml`. On failure returns false and
// describes the file and the cause in `error`.
bool readManifest(const std::filesystem::path& directory, ModelManifest& manifest, std::string& error);

}  // namespace zor::hmd
