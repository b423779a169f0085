// The command line of helmet-detect.
#pragma once

#include <optional>
#include <string>

namespace zor::detect {

struct Options {
    std::string input;           // video file, image file or folder of images
    std::string modelDirectory;  // model.yml + ONNX file
    float threshold = 0.6f;      // minimum confidence, 0 to 1
    std::string cameraId = "helmet-detect";
    long frameLimit = 0;  // at most this many frames or images; 0: all
    std::string outputFolder = "helmet-detect-out";
};

// Reads the command line. Options take "--name=value" or "--name value"; the
// input may also be given without a name. Returns nothing after printing the
// usage for --help; throws tools::UserError for anything it cannot accept.
std::optional<Options> parseOptions(int argc, const char* const* argv, const std::string& defaultModelDirectory);

}  // namespace zor::detect
