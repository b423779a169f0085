// The model directory's manifest: which ONNX file to load and how to read it.
#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace hmd {

// How the network's single output tensor is laid out.
enum class OutputLayout {
    YoloV5,  // [1, N, 5 + C]: cx, cy, w, h, objectness, class scores
    YoloV8,  // [1, 4 + C, N]: cx, cy, w, h, class scores
};

struct ModelManifest {
    static constexpr const char* fileName = "model.yml";
    static constexpr int supportedVersion = 1;

    std::filesystem::path onnxPath;
    cv::Size inputSize;
    OutputLayout layout = OutputLayout::YoloV5;
    std::vector<std::string> classNames;
    float nmsIoU = 0.45f;
    int padValue = 114;
};

const char* layoutName(OutputLayout layout);

// Reads and validates `<directory>/model.yml`. On failure returns false and
// describes the file and the cause in `error`.
bool readManifest(const std::filesystem::path& directory, ModelManifest& manifest, std::string& error);

}  // namespace hmd
