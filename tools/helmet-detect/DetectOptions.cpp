#include "DetectOptions.h"

#include "user_error.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>
#include <system_error>
#include <vector>

namespace zor::detect {

namespace {

constexpr std::array<std::string_view, 6> kValueOptions{"input", "model", "threshold", "camera", "frames", "out"};
constexpr std::array<std::string_view, 3> kHelpOptions{"help", "h", "?"};

bool contains(const auto& list, std::string_view name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

// cv::CommandLineParser wants "--name=value", ignores names it does not know
// and extra positional arguments. This rewrites the arguments into its form
// and rejects what it would silently drop.
std::vector<std::string> normalise(int argc, const char* const* argv) {
    std::vector<std::string> out{argc > 0 ? argv[0] : "helmet-detect"};
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.size() < 2 || argument[0] != '-') {
            if (++positional > 1) {
                throw UserError("unexpected argument '" + std::string(argument) + "' (see --help)");
            }
            out.emplace_back(argument);
            continue;
        }
        const std::string_view stripped = argument.substr(argument[1] == '-' ? 2 : 1);
        const std::size_t equals = stripped.find('=');
        const std::string_view name = stripped.substr(0, equals);
        if (contains(kHelpOptions, name) && equals == std::string_view::npos) {
            out.emplace_back("--help");
        } else if (!contains(kValueOptions, name)) {
            throw UserError("unknown option '" + std::string(argument) + "' (see --help)");
        } else if (equals != std::string_view::npos) {
            out.push_back("--" + std::string(stripped));
        } else if (i + 1 < argc) {
            out.push_back("--" + std::string(name) + "=" + argv[++i]);
        } else {
            throw UserError("option --" + std::string(name) + " needs a value (see --help)");
        }
    }
    return out;
}

template <typename Number>
Number parseNumber(const std::string& text, const char* option) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        throw UserError("--" + std::string(option) + " '" + text + "' is not a number");
    }
    return value;
}

const char* const kKeys =
    "{help h ?  |                   | show this help and exit}"
    "{@input    |                   | video file, image file or folder of images}"
    "{input     |                   | the input, as an option}"
    "{model     |                   | model folder (model.yml + ONNX file); default: the shipped model}"
    "{threshold | 0.6               | minimum confidence, 0 to 1}"
    "{camera    | helmet-detect     | camera identifier given to the detector}"
    "{frames    | 0                 | process at most this many frames or images; 0: all}"
    "{out       | helmet-detect-out | output folder}";

}  // namespace

std::optional<Options> parseOptions(int argc, const char* const* argv, const std::string& defaultModelDirectory) {
    const std::vector<std::string> arguments = normalise(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    cv::CommandLineParser parser(static_cast<int>(pointers.size()), pointers.data(), kKeys);
    parser.about(
        "helmet-detect: runs the ZORCustomHMD detector over a video, an image or a folder of images and\n"
        "writes an annotated copy, detections.jsonl and contact-sheet.png into the output folder.\n"
        "Default model: " +
        defaultModelDirectory +
        "\n"
        "Exit status: 0 done, 2 a bad option or an unusable model, input or output folder, 1 anything else.\n");
    if (parser.has("help")) {
        parser.printMessage();
        return std::nullopt;
    }

    Options options;
    const std::string positional = parser.get<std::string>("@input");
    const std::string named = parser.get<std::string>("input");
    if (!positional.empty() && !named.empty()) {
        throw UserError("give the input once, either positional or with --input");
    }
    options.input = positional.empty() ? named : positional;
    if (options.input.empty()) {
        throw UserError("no input: give a video, an image or a folder of images (see --help)");
    }

    options.modelDirectory = parser.get<std::string>("model");
    if (options.modelDirectory.empty()) {
        options.modelDirectory = defaultModelDirectory;
    }
    options.threshold = parseNumber<float>(parser.get<std::string>("threshold"), "threshold");
    if (!(options.threshold >= 0.0f && options.threshold <= 1.0f)) {
        throw UserError("--threshold must be between 0 and 1");
    }
    options.cameraId = parser.get<std::string>("camera");
    options.frameLimit = parseNumber<long>(parser.get<std::string>("frames"), "frames");
    if (options.frameLimit < 0) {
        throw UserError("--frames must be 0 (all) or a positive count");
    }
    options.outputFolder = parser.get<std::string>("out");
    if (options.outputFolder.empty()) {
        throw UserError("--out needs a folder");
    }
    if (!parser.check()) {
        throw UserError("cannot read the options (see --help)");
    }
    return options;
}

}  // namespace zor::detect
