#include "EvalOptions.h"

#include "UserError.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <iostream>
#include <map>
#include <string_view>

namespace zor::eval {

namespace {

constexpr std::array<std::string_view, 14> kValueOptions{
    "model",     "images", "video",  "labels", "classes", "exclude", "detect-threshold",
    "threshold", "iou",    "camera", "frames", "json",    "curves",  "optimize"};
constexpr std::array<std::string_view, 3> kHelpOptions{"help", "h", "?"};

bool contains(const auto& list, std::string_view name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

// Name -> value; "--optimize" alone is "--optimize=true".
std::map<std::string, std::string> collect(int argc, const char* const* argv, bool& help) {
    std::map<std::string, std::string> values;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.size() < 2 || argument[0] != '-') {
            throw UserError("unexpected argument '" + std::string(argument) + "' (see --help)");
        }
        const std::string_view stripped = argument.substr(argument[1] == '-' ? 2 : 1);
        const std::size_t equals = stripped.find('=');
        const std::string name(stripped.substr(0, equals));
        if (contains(kHelpOptions, name) && equals == std::string_view::npos) {
            help = true;
            continue;
        }
        if (!contains(kValueOptions, name)) {
            throw UserError("unknown option '" + std::string(argument) + "' (see --help)");
        }
        std::string value;
        if (equals != std::string_view::npos) {
            value = std::string(stripped.substr(equals + 1));
        } else if (name == "optimize") {
            value = "true";
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            throw UserError("option --" + name + " needs a value (see --help)");
        }
        if (!values.emplace(name, value).second) {
            throw UserError("option --" + name + " is given twice");
        }
    }
    return values;
}

template <typename Number>
Number parseNumber(const std::string& text, const std::string& option) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        throw UserError("--" + option + " '" + text + "' is not a number");
    }
    return value;
}

void printUsage(const std::string& defaultModelDirectory) {
    std::cout << "helmet-eval: scores a ZORCustomHMD detector against labelled images or a labelled video.\n"
                 "Usage: helmet-eval (--images DIR | --video FILE --labels FILE) [options]\n"
                 "Options take --name=value or --name value.\n"
                 "  --images DIR            folder with images/ and labels/ (YOLO: class cx cy w h, or polygons)\n"
                 "  --video FILE            video to score, with\n"
                 "  --labels FILE           its ground truth: frame class cx cy w h in video pixels\n"
                 "  --classes MAP           dataset class id to detector class, default "
              << defaultClassMap
              << "\n"
                 "  --exclude FILE          image paths to leave out (matched by file name)\n"
                 "  --model DIR             model folder, default "
              << defaultModelDirectory
              << "\n"
                 "  --detect-threshold T    confidence threshold passed to Initialize, default 0.05\n"
                 "  --threshold T           operating threshold for precision, recall, F1, default 0.6\n"
                 "  --iou T                 IoU for precision, recall, F1, default 0.5\n"
                 "  --camera ID             camera identifier passed to RunInference, default helmet-eval\n"
                 "  --frames N              at most N frames or images, default 0 (all)\n"
                 "  --optimize              call OptimizeModel(true) before the first call\n"
                 "  --json FILE             also write every figure to FILE\n"
                 "  --curves DIR            write pr-CLASS.png precision-recall curves into DIR\n"
                 "  --help                  this help\n"
                 "Exit status: 0 done, 1 the run failed, 2 a bad option, model or input.\n";
}

}  // namespace

std::optional<Options> parseOptions(int argc, const char* const* argv, const std::string& defaultModelDirectory) {
    bool help = false;
    std::map<std::string, std::string> values = collect(argc, argv, help);
    if (help) {
        printUsage(defaultModelDirectory);
        return std::nullopt;
    }
    const auto take = [&values](const std::string& name, std::string& target) {
        if (const auto found = values.find(name); found != values.end()) {
            target = found->second;
        }
    };
    Options options;
    options.modelDirectory = defaultModelDirectory;
    take("model", options.modelDirectory);
    take("images", options.imagesFolder);
    take("video", options.video);
    take("labels", options.labelsFile);
    take("classes", options.classMap);
    take("exclude", options.excludeFile);
    take("camera", options.cameraId);
    take("json", options.jsonFile);
    take("curves", options.curvesFolder);
    if (values.count("detect-threshold")) {
        options.detectThreshold = parseNumber<float>(values["detect-threshold"], "detect-threshold");
    }
    if (values.count("threshold")) {
        options.threshold = parseNumber<double>(values["threshold"], "threshold");
    }
    if (values.count("iou")) {
        options.iou = parseNumber<double>(values["iou"], "iou");
    }
    if (values.count("frames")) {
        options.frameLimit = parseNumber<long>(values["frames"], "frames");
    }
    if (values.count("optimize")) {
        const std::string& flag = values["optimize"];
        if (flag != "true" && flag != "false" && flag != "1" && flag != "0") {
            throw UserError("--optimize takes no value (or true/false)");
        }
        options.optimize = flag == "true" || flag == "1";
    }

    if (options.imagesFolder.empty() == options.video.empty()) {
        throw UserError("give exactly one of --images DIR and --video FILE (see --help)");
    }
    if (!options.video.empty() && options.labelsFile.empty()) {
        throw UserError("--video needs --labels FILE with its ground truth");
    }
    if (options.video.empty() && !options.labelsFile.empty()) {
        throw UserError("--labels goes with --video; an image folder keeps its labels in labels/");
    }
    if (!options.video.empty() && !options.excludeFile.empty()) {
        throw UserError("--exclude applies to an image folder only");
    }
    if (options.modelDirectory.empty() || options.cameraId.empty()) {
        throw UserError("--model and --camera need a value");
    }
    if (!(options.detectThreshold >= 0.0f && options.detectThreshold <= 1.0f)) {
        throw UserError("--detect-threshold must be between 0 and 1");
    }
    if (!(options.threshold >= 0.0 && options.threshold <= 1.0)) {
        throw UserError("--threshold must be between 0 and 1");
    }
    if (static_cast<float>(options.threshold) < options.detectThreshold) {
        throw UserError("--threshold must not be below --detect-threshold: the detector drops what lies below it");
    }
    if (!(options.iou > 0.0 && options.iou <= 1.0)) {
        throw UserError("--iou must be above 0 and at most 1");
    }
    if (options.frameLimit < 0) {
        throw UserError("--frames must be 0 (all) or a positive count");
    }
    return options;
}

}  // namespace zor::eval
