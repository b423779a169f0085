#include "DetectOptions.h"

#include "CommandLine.h"

#include <iostream>

namespace zor::detect {

namespace {

const tools::OptionTable kOptions{{"input", "model", "threshold", "camera", "frames", "out"}, {}, 1};

std::string usage(const std::string& defaultModelDirectory) {
    return "helmet-detect: runs the ZORCustomHMD detector over a video, an image or a folder of images and\n"
           "writes an annotated copy, detections.jsonl and contact-sheet.png into the output folder.\n"
           "Usage: helmet-detect INPUT [options]\n"
           "Options take --name=value or --name value.\n"
           "  INPUT, --input PATH     video file, image file or folder of images\n"
           "  --model DIR             model folder (model.yml + ONNX file), default " +
           defaultModelDirectory +
           "\n"
           "  --threshold T           minimum confidence, 0 to 1, default 0.6\n"
           "  --camera ID             camera identifier given to the detector, default helmet-detect\n"
           "  --frames N              process at most N frames or images, default 0 (all)\n"
           "  --out DIR               output folder, default helmet-detect-out\n"
           "  --help                  this help\n"
           "Exit status: 0 done, 1 the run failed, 2 a bad option or an unusable model, input or output folder.\n";
}

}  // namespace

std::optional<Options> parseOptions(int argc, const char* const* argv, const std::string& defaultModelDirectory) {
    const std::optional<tools::Arguments> parsed =
        tools::parseCommandLine(argc, argv, kOptions, usage(defaultModelDirectory), std::cout);
    if (!parsed) {
        return std::nullopt;
    }
    const tools::Arguments& arguments = *parsed;
    Options options;
    const std::string positional = arguments.positional().empty() ? "" : arguments.positional().front();
    const std::string named = arguments.text("input");
    if (!positional.empty() && !named.empty()) {
        throw tools::UserError("give the input once, either positional or with --input");
    }
    options.input = positional.empty() ? named : positional;
    if (options.input.empty()) {
        throw tools::UserError("no input: give a video, an image or a folder of images (see --help)");
    }
    options.modelDirectory = arguments.text("model", defaultModelDirectory);
    if (options.modelDirectory.empty()) {
        options.modelDirectory = defaultModelDirectory;
    }
    options.threshold = arguments.number("threshold", options.threshold, 0.0f, 1.0f);
    options.cameraId = arguments.text("camera", options.cameraId);
    options.frameLimit = arguments.number("frames", options.frameLimit, 0L, 1'000'000'000L);
    options.outputFolder = arguments.text("out", options.outputFolder);
    if (options.outputFolder.empty()) {
        throw tools::UserError("--out needs a folder");
    }
    return options;
}

}  // namespace zor::detect
