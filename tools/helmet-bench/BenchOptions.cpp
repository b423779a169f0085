#include "BenchOptions.h"

#include "CommandLine.h"

#include <sstream>

namespace zor::bench {

namespace {

constexpr int kMaxCameras = 64;

const tools::OptionTable kOptions{
    {"model", "video", "synthetic", "frames", "cameras", "warmup", "threshold", "opencv-threads", "json", "latencies",
     "repetitions", "compare-library", "compare-model"},
    {"optimize"}};

BenchOptions readOptions(const tools::Arguments& arguments, const BenchOptions& defaults) {
    BenchOptions options = defaults;
    options.modelDirectory = arguments.text("model", defaults.modelDirectory.string());
    options.video = arguments.text("video", defaults.video.string());
    if (arguments.has("synthetic")) {
        const std::string text = arguments.text("synthetic");
        options.synthetic = parseFrameSize(text);
        if (!options.synthetic) {
            throw tools::UserError("--synthetic must be WIDTHxHEIGHT, e.g. 1920x1080, not '" + text + "'");
        }
    }
    options.framesPerCamera = arguments.number("frames", defaults.framesPerCamera, 1, 1'000'000);
    options.cameras = arguments.number("cameras", defaults.cameras, 1, kMaxCameras);
    options.warmupPerCamera = arguments.number("warmup", defaults.warmupPerCamera, 0, 1'000'000);
    options.opencvThreads = arguments.number("opencv-threads", defaults.opencvThreads, 1, 1024);
    options.threshold = arguments.number("threshold", defaults.threshold, 0.0f, 1.0f);
    options.optimize = arguments.flag("optimize");
    options.jsonPath = arguments.text("json", defaults.jsonPath.string());
    options.latenciesPath = arguments.text("latencies");
    options.compareLibrary = arguments.text("compare-library");
    options.compareModel = arguments.text("compare-model");
    // A ratio needs a spread, and a spread needs several pairs.
    const int defaultRepetitions = options.comparing() ? 5 : defaults.repetitions;
    options.repetitions = arguments.number("repetitions", defaultRepetitions, 1, 1000);
    if (options.comparing() && !options.latenciesPath.empty()) {
        throw tools::UserError("--latencies is for one detector; leave out --compare-library and --compare-model");
    }
    return options;
}

}  // namespace

std::optional<cv::Size> parseFrameSize(const std::string& text) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) {
        return std::nullopt;
    }
    const auto width = tools::parseNumber<int>(std::string_view(text).substr(0, x));
    const auto height = tools::parseNumber<int>(std::string_view(text).substr(x + 1));
    if (!width || !height || *width <= 0 || *height <= 0) {
        return std::nullopt;
    }
    return cv::Size(*width, *height);
}

namespace {

std::string usage(const BenchOptions& defaults) {
    std::ostringstream text;
    text << "helmet-bench: times ZORCustomHMD through its plugin interface (Initialize, first call, per-call\n"
            "latency, throughput, detections, peak memory).\n"
            "Usage: helmet-bench [options]\n"
            "Options take --name=value or --name value.\n"
            "  --model DIR              model directory, default "
         << defaults.modelDirectory.string()
         << "\n"
            "  --video FILE             video decoded into memory before timing, default "
         << defaults.video.string()
         << "\n"
            "  --synthetic WxH          synthetic frames of this size instead of the video, e.g. 1920x1080\n"
            "  --frames N               measured calls per camera, default "
         << defaults.framesPerCamera
         << "\n"
            "  --cameras N              threads sharing one detector, each with its own frames, default "
         << defaults.cameras
         << "\n"
            "  --warmup N               unmeasured calls per camera before the measured ones, default "
         << defaults.warmupPerCamera
         << "\n"
            "  --threshold T            confidence threshold passed to Initialize, default "
         << defaults.threshold
         << "\n"
            "  --optimize               call OptimizeModel(true) before the first call\n"
            "  --opencv-threads N       cv::setNumThreads(N) before the run, default OpenCV's own choice\n"
            "  --repetitions N          run the measured calls N times; figures over the runs, default 1\n"
            "                           (5 when comparing)\n"
            "  --compare-library FILE   also time this library file (another ZORCustomHelmetDetection)\n"
            "  --compare-model DIR      also time this model; either compare option runs both detectors\n"
            "                           in turn in this process and prints the ratio of their medians\n"
            "  --json FILE              also write the figures to this JSON file\n"
            "  --latencies FILE         also write each measured call's latency in ms, one a line\n"
            "  --help                   this help\n"
            "Exit status: 0 done, 1 the run failed, 2 a bad option, model or video.\n";
    return text.str();
}

}  // namespace

std::optional<BenchOptions> parseOptions(int argc, const char* const argv[], const BenchOptions& defaults,
                                         std::ostream& out) {
    const std::optional<tools::Arguments> arguments =
        tools::parseCommandLine(argc, argv, kOptions, usage(defaults), out);
    if (!arguments) {
        return std::nullopt;
    }
    return readOptions(*arguments, defaults);
}

}  // namespace zor::bench
