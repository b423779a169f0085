// Command-line options of helmet-bench.
#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

namespace zor::bench {

struct BenchOptions {
    std::filesystem::path modelDirectory;
    std::filesystem::path video;
    std::optional<cv::Size> synthetic;  // set: synthetic frames of this size instead of the video
    int framesPerCamera = 300;          // measured calls per camera
    int cameras = 1;                    // threads sharing one detector
    int warmupPerCamera = 5;            // unmeasured calls per camera before the measured ones
    float threshold = 0.6f;
    bool optimize = false;                 // OptimizeModel(true) before the first call
    int opencvThreads = 0;                 // cv::setNumThreads before the run; 0: OpenCV's default
    std::filesystem::path jsonPath;        // empty: no JSON report
    std::filesystem::path latenciesPath;   // empty: no per-call latencies file
    int repetitions = 1;                   // runs of the measured calls
    std::filesystem::path compareLibrary;  // set: also time this library file
    std::filesystem::path compareModel;    // set: also time this model

    bool comparing() const { return !compareLibrary.empty() || !compareModel.empty(); }
};

// Reads `--key=value` or `--key value` options over `defaults`. Returns
// nothing after writing the usage to `out` for --help; throws
// tools::UserError for unknown options, stray arguments and out-of-range values.
std::optional<BenchOptions> parseOptions(int argc, const char* const argv[], const BenchOptions& defaults,
                                         std::ostream& out);

// "1920x1080" (or "1920X1080") as a size with both sides positive.
std::optional<cv::Size> parseFrameSize(const std::string& text);

}  // namespace zor::bench
