#include "EvalOptions.h"

#include "CommandLine.h"

#include <iostream>

namespace zor::eval {

namespace {

const tools::OptionTable kOptions{{"model", "images", "video", "labels", "classes", "exclude", "detect-threshold",
                                   "threshold", "iou", "camera", "frames", "json", "curves", "min-height"},
                                  {"optimize", "grayscale"}};

std::string usage(const std::string& defaultModelDirectory) {
    return std::string(
               "helmet-eval: scores a ZORCustomHMD detector against labelled images or a labelled video.\n"
               "Usage: helmet-eval (--images DIR | --video FILE --labels FILE) [options]\n"
               "Options take --name=value or --name value.\n"
               "  --images DIR            folder with images/ and labels/ (YOLO: class cx cy w h, or polygons)\n"
               "  --video FILE            video to score, with\n"
               "  --labels FILE           its ground truth: frame class cx cy w h in video pixels\n"
               "  --classes MAP           dataset class id to detector class, default ") +
           kDefaultClassMap +
           "\n"
           "  --exclude FILE          image paths to leave out (matched by file name)\n"
           "  --model DIR             model folder, default " +
           defaultModelDirectory +
           "\n"
           "  --detect-threshold T    confidence threshold passed to Initialize, default 0.05\n"
           "  --threshold T           operating threshold for precision, recall, F1, default 0.6\n"
           "  --iou T                 IoU for precision, recall, F1, default 0.5\n"
           "  --camera ID             camera identifier passed to RunInference, default helmet-eval\n"
           "  --frames N              at most N frames or images, default 0 (all)\n"
           "  --optimize              call OptimizeModel(true) before the first call\n"
           "  --grayscale             score the frames turned grayscale (BGR -> GRAY -> BGR)\n"
           "  --min-height N          also recall over the truths at least N px tall, default 0\n"
           "  --json FILE             also write every figure to FILE\n"
           "  --curves DIR            write pr-CLASS.png precision-recall curves into DIR\n"
           "  --help                  this help\n"
           "Exit status: 0 done, 1 the run failed, 2 a bad option, model or input.\n";
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
    options.modelDirectory = arguments.text("model", defaultModelDirectory);
    options.imagesFolder = arguments.text("images");
    options.video = arguments.text("video");
    options.labelsFile = arguments.text("labels");
    options.classMap = arguments.text("classes");
    options.excludeFile = arguments.text("exclude");
    options.cameraId = arguments.text("camera", options.cameraId);
    options.jsonFile = arguments.text("json");
    options.curvesFolder = arguments.text("curves");
    options.detectThreshold = arguments.number("detect-threshold", options.detectThreshold, 0.0f, 1.0f);
    options.threshold = arguments.number("threshold", options.threshold, 0.0, 1.0);
    options.iou = arguments.number("iou", options.iou, 0.0, 1.0);
    options.frameLimit = arguments.number("frames", options.frameLimit, 0L, 1'000'000'000L);
    options.optimize = arguments.flag("optimize");
    options.grayscale = arguments.flag("grayscale");
    options.minHeight = arguments.number("min-height", options.minHeight, 0.0, 1'000'000.0);

    if (options.imagesFolder.empty() == options.video.empty()) {
        throw tools::UserError("give exactly one of --images DIR and --video FILE (see --help)");
    }
    if (!options.video.empty() && options.labelsFile.empty()) {
        throw tools::UserError("--video needs --labels FILE with its ground truth");
    }
    if (options.video.empty() && !options.labelsFile.empty()) {
        throw tools::UserError("--labels goes with --video; an image folder keeps its labels in labels/");
    }
    if (!options.video.empty() && !options.excludeFile.empty()) {
        throw tools::UserError("--exclude applies to an image folder only");
    }
    if (options.modelDirectory.empty() || options.cameraId.empty()) {
        throw tools::UserError("--model and --camera need a value");
    }
    if (static_cast<float>(options.threshold) < options.detectThreshold) {
        throw tools::UserError(
            "--threshold must not be below --detect-threshold: the detector drops what lies below it");
    }
    if (options.iou == 0.0) {  // the range above lets 0 through; an IoU of 0 matches anything
        throw tools::UserError("--iou must be above 0 and at most 1");
    }
    return options;
}

}  // namespace zor::eval
