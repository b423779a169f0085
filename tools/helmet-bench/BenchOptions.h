// Command-line options of helmet-bench.
#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <optional>
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

struct CommandLine {
    BenchOptions options;
    bool helpRequested = false;
    std::string error;  // empty when the command line is usable
};

// Reads `--key=value` or `--key value` options over `defaults`. Unknown
// options, stray arguments and out-of-range values give an error.
CommandLine parseCommandLine(int argc, const char* const argv[], const BenchOptions& defaults);

// Prints the option list with the defaults to standard output.
void printUsage(const BenchOptions& defaults);

// "1920x1080" (or "1920X1080") as a size with both sides positive.
std::optional<cv::Size> parseFrameSize(const std::string& text);

}  // namespace zor::bench
