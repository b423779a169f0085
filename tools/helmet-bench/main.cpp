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

namespace {

// Writes `report` with `write` to `path` unless it is empty; false, with a
// line on standard error, when the file cannot be written.
bool writeFile(const std::filesystem::path& path, const hbench::BenchReport& report,
               void (*write)(std::ostream&, const hbench::BenchReport&)) {
    if (path.empty()) {
        return true;
    }
    std::ofstream file(path, std::ios::trunc);
    write(file, report);
    file.close();
    if (!file) {
        std::cerr << "helmet-bench: cannot write " << path.string() << '\n';
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    hbench::BenchOptions defaults;
    defaults.modelDirectory = HELMET_BENCH_DEFAULT_MODEL;
    defaults.video = HELMET_BENCH_DEFAULT_VIDEO;

    const hbench::CommandLine commandLine = hbench::parseCommandLine(argc, argv, defaults);
    if (commandLine.helpRequested) {
        hbench::printUsage(defaults);
        return 0;
    }
    if (!commandLine.error.empty()) {
        std::cerr << "helmet-bench: " << commandLine.error << " (--help lists the options)\n";
        return 2;
    }
    const hbench::BenchOptions& options = commandLine.options;
    if (options.opencvThreads > 0) {
        cv::setNumThreads(options.opencvThreads);
    }
    try {
        // Every camera needs warm-up plus measured frames; beyond the cap the
        // frames in memory are reused in turn.
        const int needed = options.warmupPerCamera + options.framesPerCamera;
        const hbench::FrameSet frames = options.synthetic ? hbench::makeSyntheticFrames(*options.synthetic, needed)
                                                          : hbench::decodeVideoFrames(options.video, needed);
        const hbench::BenchReport report = hbench::runBenchmark(options, frames, isatty(STDERR_FILENO) == 1);
        hbench::printTable(std::cout, report);
        const bool written = writeFile(options.jsonPath, report, hbench::writeJson) &&
                             writeFile(options.latenciesPath, report, hbench::writeLatencies);
        return written ? 0 : 1;
    } catch (const hbench::UserError& e) {
        std::cerr << "helmet-bench: " << e.what() << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "helmet-bench: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "helmet-bench: unknown error\n";
    }
    return 1;
}
