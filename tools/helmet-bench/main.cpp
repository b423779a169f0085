// helmet-bench: times a ZORCustomHMD library through its plugin interface.
#include "BenchOptions.h"
#include "BenchRun.h"
#include "FrameSource.h"
#include "Report.h"
#include "UserError.h"

#include <opencv2/core/utility.hpp>

#include <unistd.h>

#include <fstream>
#include <iostream>
#include <stdexcept>

#ifndef HELMET_BENCH_DEFAULT_MODEL
#define HELMET_BENCH_DEFAULT_MODEL "models/ZOR_Helmet"
#endif
#ifndef HELMET_BENCH_DEFAULT_VIDEO
#define HELMET_BENCH_DEFAULT_VIDEO "assets/HM2.mp4"
#endif

int main(int argc, char** argv) {
    zor::bench::BenchOptions defaults;
    defaults.modelDirectory = HELMET_BENCH_DEFAULT_MODEL;
    defaults.video = HELMET_BENCH_DEFAULT_VIDEO;

    const zor::bench::CommandLine commandLine = zor::bench::parseCommandLine(argc, argv, defaults);
    if (commandLine.helpRequested) {
        zor::bench::printUsage(defaults);
        return 0;
    }
    if (!commandLine.error.empty()) {
        std::cerr << "helmet-bench: " << commandLine.error << " (--help lists the options)\n";
        return 2;
    }
    const zor::bench::BenchOptions& options = commandLine.options;
    if (options.opencvThreads > 0) {
        cv::setNumThreads(options.opencvThreads);
    }
    try {
        // Every camera needs warm-up plus measured frames; beyond the cap the
        // frames in memory are reused in turn.
        const int needed = options.warmupPerCamera + options.framesPerCamera;
        const zor::bench::FrameSet frames = options.synthetic ? zor::bench::makeSyntheticFrames(*options.synthetic, needed)
                                                          : zor::bench::decodeVideoFrames(options.video, needed);
        const zor::bench::BenchReport report = zor::bench::runBenchmark(options, frames, isatty(STDERR_FILENO) == 1);
        zor::bench::printTable(std::cout, report);
        if (!options.jsonPath.empty()) {
            std::ofstream json(options.jsonPath, std::ios::trunc);
            zor::bench::writeJson(json, report);
            json.close();
            if (!json) {
                std::cerr << "helmet-bench: cannot write " << options.jsonPath.string() << '\n';
                return 1;
            }
        }
        return 0;
    } catch (const zor::bench::UserError& e) {
        std::cerr << "helmet-bench: " << e.what() << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "helmet-bench: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "helmet-bench: unknown error\n";
    }
    return 1;
}
