// The command line of helmet-eval.
#pragma once

#include <optional>
#include <string>

namespace zor::eval {

struct Options {
    std::string modelDirectory;  // model.yml + ONNX file
    std::string imagesFolder;    // with images/ and labels/; or
    std::string video;           // with labelsFile
    std::string labelsFile;
    std::string classMap;           // "ID:NAME,..."; empty: 0:helmet,1:head
    std::string excludeFile;        // image folder only
    float detectThreshold = 0.05f;  // passed to Initialize
    double threshold = 0.6;         // operating threshold for precision, recall and F1
    double iou = 0.5;               // IoU for precision, recall and F1
    std::string cameraId = "helmet-eval";
    long frameLimit = 0;    // 0: all frames or images
    bool optimize = false;  // OptimizeModel(true) before the first call
    std::string jsonFile;
    std::string curvesFolder;
    bool grayscale = false;  // every frame BGR -> GRAY -> BGR before RunInference
    double minHeight = 0.0;  // recall also over the truths at least this many pixels tall
};

inline constexpr const char* kDefaultClassMap = "0:helmet,1:head";

// Options take "--name=value" or "--name value". Returns nothing after
// printing the usage for --help; throws tools::UserError for anything unusable.
std::optional<Options> parseOptions(int argc, const char* const* argv, const std::string& defaultModelDirectory);

}  // namespace zor::eval
