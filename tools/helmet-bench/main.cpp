// helmet-bench: times a ZORCustomHMD library through its plugin interface.
#include "BenchContext.h"
#include "BenchOptions.h"
#include "BenchRun.h"
#include "FrameSource.h"
#include "Report.h"
#include "ToolExit.h"

#include <opencv2/core/utility.hpp>

#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#ifndef HELMET_BENCH_DEFAULT_MODEL
#define HELMET_BENCH_DEFAULT_MODEL "models/ZOR_Helmet"
#endif
#ifndef HELMET_BENCH_DEFAULT_VIDEO
#define HELMET_BENCH_DEFAULT_VIDEO "assets/HM2.mp4"
#endif

namespace {

using namespace zor::bench;

int run(const BenchOptions& options) {
    if (options.opencvThreads > 0) {
        cv::setNumThreads(options.opencvThreads);
    }
    // Every camera needs warm-up plus measured frames; beyond the cap the
    // frames in memory are reused in turn.
    const int needed = options.warmupPerCamera + options.framesPerCamera;
    const FrameSet frames =
        options.synthetic ? makeSyntheticFrames(*options.synthetic, needed) : decodeVideoFrames(options.video, needed);
    const bool showProgress = isatty(STDERR_FILENO) == 1;
    const BenchContext context = currentContext();
    printContext(std::cout, context);
    std::ostringstream json;
    if (options.comparing()) {
        const Comparison comparison = runComparison(options, frames, showProgress);
        printComparison(std::cout, comparison);
        writeJson(json, context, comparison);
    } else {
        const BenchReport report = runBenchmark(options, frames, showProgress);
        printTable(std::cout, report);
        writeJson(json, context, report);
        if (!options.latenciesPath.empty()) {
            std::ofstream file(options.latenciesPath, std::ios::trunc);
            writeLatencies(file, report);
            file.close();
            if (!file) {
                throw std::runtime_error("cannot write " + options.latenciesPath.string());
            }
        }
    }
    if (!options.jsonPath.empty()) {
        std::ofstream file(options.jsonPath, std::ios::trunc);
        file << json.str();
        file.close();
        if (!file) {
            throw std::runtime_error("cannot write " + options.jsonPath.string());
        }
    }
    return zor::tools::kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    BenchOptions defaults;
    defaults.modelDirectory = HELMET_BENCH_DEFAULT_MODEL;
    defaults.video = HELMET_BENCH_DEFAULT_VIDEO;
    const CommandLine commandLine = parseCommandLine(argc, argv, defaults);
    if (commandLine.helpRequested) {
        printUsage(defaults);
        return zor::tools::kExitDone;
    }
    if (!commandLine.error.empty()) {
        std::cerr << "helmet-bench: " << commandLine.error << " (--help lists the options)\n";
        return zor::tools::kExitUserError;
    }
    return zor::tools::runToolMain("helmet-bench", [&] { return run(commandLine.options); });
}
