#include "BenchOptions.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>
#include <vector>

namespace hbench {

namespace {

constexpr int maxCameras = 64;

// Options that take no value.
constexpr std::array<std::string_view, 5> flagNames{"help", "h", "usage", "?", "optimize"};
constexpr std::array<std::string_view, 10> valueNames{"model",  "video",     "synthetic",      "frames", "cameras",
                                                      "warmup", "threshold", "opencv-threads", "json",   "latencies"};

bool isFlag(std::string_view name) {
    return std::find(flagNames.begin(), flagNames.end(), name) != flagNames.end();
}

bool takesValue(std::string_view name) {
    return std::find(valueNames.begin(), valueNames.end(), name) != valueNames.end();
}

std::string keysFor(const BenchOptions& defaults) {
    // cv::CommandLineParser splits on '|' and braces; defaults shown in the
    // help are therefore written into the descriptions, not the key table.
    return "{help h usage ? |       | show this help}"
           "{model          |       | model directory (default: " +
           defaults.modelDirectory.string() +
           ")}"
           "{video          |       | video file to decode before timing (default: " +
           defaults.video.string() +
           ")}"
           "{synthetic      |       | WxH: synthetic frames of this size instead of the video, e.g. 1920x1080}"
           "{frames         | " +
           std::to_string(defaults.framesPerCamera) +
           " | measured calls per camera}"
           "{cameras        | " +
           std::to_string(defaults.cameras) +
           " | threads sharing one detector, each with its own stream of frames}"
           "{warmup         | " +
           std::to_string(defaults.warmupPerCamera) +
           " | unmeasured calls per camera before the measured ones}"
           "{threshold      | " +
           std::to_string(defaults.threshold) +
           " | confidence threshold passed to Initialize}"
           "{optimize       |       | call OptimizeModel(true) before the first call}"
           "{opencv-threads |       | cv::setNumThreads(N) before the run (default: OpenCV's own choice)}"
           "{json           |       | also write the figures to this JSON file}"
           "{latencies      |       | also write each measured call's latency in ms to this file, one a line}";
}

// Splits "--name=value" / "-name" into the bare name; empty for a non-option.
std::string_view optionName(std::string_view arg) {
    if (arg.size() < 2 || arg[0] != '-') {
        return {};
    }
    arg.remove_prefix(arg[1] == '-' ? 2 : 1);
    return arg.substr(0, arg.find('='));
}

// cv::CommandLineParser wants --name=value: joins "--name value" pairs and
// checks every argument against the known options.
std::vector<std::string> normalise(int argc, const char* const argv[], std::string& error) {
    std::vector<std::string> normalised;
    if (argc > 0) {
        normalised.emplace_back(argv[0]);
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string_view name = optionName(arg);
        if (name.empty()) {
            error = "unexpected argument '" + arg + "'";
            return {};
        }
        if (!isFlag(name) && !takesValue(name)) {
            error = "unknown option '" + arg + "'";
            return {};
        }
        const bool hasValue = arg.find('=') != std::string::npos;
        if (takesValue(name) && !hasValue) {
            if (i + 1 >= argc || std::string_view(argv[i + 1]).starts_with("--")) {
                error = "option --" + std::string(name) + " needs a value";
                return {};
            }
            normalised.push_back("--" + std::string(name) + "=" + argv[++i]);
        } else {
            normalised.push_back(arg);
        }
    }
    return normalised;
}

bool parseInt(const std::string& text, int& value) {
    const char* end = text.data() + text.size();
    const auto [last, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && last == end;
}

bool parseFloat(const std::string& text, float& value) {
    try {
        std::size_t used = 0;
        value = std::stof(text, &used);
        return used == text.size();
    } catch (const std::exception&) {
        return false;
    }
}

bool parseBool(const std::string& text, bool& value) {
    if (text == "true" || text == "1") {
        value = true;
    } else if (text == "false" || text == "0") {
        value = false;
    } else {
        return false;
    }
    return true;
}

// Reads an integer option into `value`; false (with `error`) when it is not an
// integer in [minimum, maximum].
bool readInt(const cv::CommandLineParser& parser, const char* name, int minimum, int maximum, int& value,
             std::string& error) {
    const auto text = parser.get<std::string>(name);
    if (!parseInt(text, value) || value < minimum || value > maximum) {
        error = "--" + std::string(name) + " must be an integer from " + std::to_string(minimum) + " to " +
                std::to_string(maximum) + ", not '" + text + "'";
        return false;
    }
    return true;
}

}  // namespace

std::optional<cv::Size> parseFrameSize(const std::string& text) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) {
        return std::nullopt;
    }
    int width = 0;
    int height = 0;
    if (!parseInt(text.substr(0, x), width) || !parseInt(text.substr(x + 1), height) || width <= 0 || height <= 0) {
        return std::nullopt;
    }
    return cv::Size(width, height);
}

CommandLine parseCommandLine(int argc, const char* const argv[], const BenchOptions& defaults) {
    CommandLine result;
    result.options = defaults;
    const std::vector<std::string> args = normalise(argc, argv, result.error);
    if (!result.error.empty()) {
        return result;
    }
    std::vector<const char*> pointers;
    for (const std::string& arg : args) {
        pointers.push_back(arg.c_str());
    }
    const cv::CommandLineParser parser(static_cast<int>(pointers.size()), pointers.data(), keysFor(defaults));
    if (parser.has("help")) {
        result.helpRequested = true;
        return result;
    }

    BenchOptions& options = result.options;
    std::string& error = result.error;
    if (parser.has("model")) {
        options.modelDirectory = parser.get<std::string>("model");
    }
    if (parser.has("video")) {
        options.video = parser.get<std::string>("video");
    }
    if (parser.has("synthetic")) {
        const auto text = parser.get<std::string>("synthetic");
        options.synthetic = parseFrameSize(text);
        if (!options.synthetic) {
            error = "--synthetic must be WIDTHxHEIGHT, e.g. 1920x1080, not '" + text + "'";
            return result;
        }
    }
    if (!readInt(parser, "frames", 1, 1'000'000, options.framesPerCamera, error) ||
        !readInt(parser, "cameras", 1, maxCameras, options.cameras, error) ||
        !readInt(parser, "warmup", 0, 1'000'000, options.warmupPerCamera, error)) {
        return result;
    }
    if (parser.has("opencv-threads") && !readInt(parser, "opencv-threads", 1, 1024, options.opencvThreads, error)) {
        return result;
    }
    const auto threshold = parser.get<std::string>("threshold");
    if (!parseFloat(threshold, options.threshold) || !(options.threshold >= 0.0f && options.threshold <= 1.0f)) {
        error = "--threshold must be a number from 0 to 1, not '" + threshold + "'";
        return result;
    }
    if (parser.has("optimize") && !parseBool(parser.get<std::string>("optimize"), options.optimize)) {
        error = "--optimize takes no value (or true/false)";
        return result;
    }
    if (parser.has("json")) {
        options.jsonPath = parser.get<std::string>("json");
    }
    if (parser.has("latencies")) {
        options.latenciesPath = parser.get<std::string>("latencies");
    }
    return result;
}

void printUsage(const BenchOptions& defaults) {
    const char* argv[] = {"helmet-bench"};
    cv::CommandLineParser parser(1, argv, keysFor(defaults));
    parser.about(
        "helmet-bench: times ZORCustomHMD through its plugin interface (Initialize, first call, per-call "
        "latency, throughput, detections, peak memory).\nOptions take --name=value or --name value.");
    parser.printMessage();
}

}  // namespace hbench
