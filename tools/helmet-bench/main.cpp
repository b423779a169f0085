// helmet-bench: times a ZORCustomHMD library through its plugin interface.
#include "BenchContext.h"
#include "BenchOptions.h"
#include "BenchRun.h"
#include "FrameSource.h"
#include "InstalledData.h"
#include "Report.h"
#include "TextFile.h"
#include "ToolExit.h"

#include <opencv2/core/utility.hpp>

#include <iostream>
#include <optional>
#include <sstream>

namespace {

using namespace zor::bench;

// Inputs and output places are checked before decoding and timing, so that a
// typo costs no run and nothing waits on a FIFO.
void checkPaths(const BenchOptions& options) {
    if (!options.synthetic) {
        zor::tools::requireRegularFile(options.video, "video");
    }
    if (!options.compareLibrary.empty()) {
        zor::tools::requireRegularFile(options.compareLibrary, "library file");
    }
    if (!options.jsonPath.empty()) {
        zor::tools::checkOutputFile(options.jsonPath, "JSON file");
    }
    if (!options.latenciesPath.empty()) {
        zor::tools::checkOutputFile(options.latenciesPath, "latencies file");
    }
}

int run(const BenchOptions& options) {
    checkPaths(options);
    if (options.opencvThreads > 0) {
        cv::setNumThreads(options.opencvThreads);
    }
    // Every camera needs warm-up plus measured frames; beyond the cap the
    // frames in memory are reused in turn.
    const int needed = options.warmupPerCamera + options.framesPerCamera;
    const FrameSet frames =
        options.synthetic ? makeSyntheticFrames(*options.synthetic, needed) : decodeVideoFrames(options.video, needed);
    // The frames there are still time the library; fewer distinct ones are reused more often.
    if (!frames.shortfall.empty()) {
        std::cerr << "helmet-bench: warning: " << frames.shortfall << std::endl;
    }
    const BenchContext context = currentContext();
    printContext(std::cout, context);
    std::ostringstream json;
    if (options.comparing()) {
        const Comparison comparison = runComparison(options, frames);
        printComparison(std::cout, comparison);
        writeJson(json, context, comparison);
    } else {
        const BenchReport report = runBenchmark(options, frames);
        printTable(std::cout, report);
        writeJson(json, context, report);
        if (!options.latenciesPath.empty()) {
            std::ostringstream latencies;
            writeLatencies(latencies, report);
            zor::tools::writeTextFile(options.latenciesPath, latencies.str());
        }
    }
    if (!options.jsonPath.empty()) {
        zor::tools::writeTextFile(options.jsonPath, json.str());
    }
    return zor::tools::kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    return zor::tools::runToolMain("helmet-bench", [&] {
        BenchOptions defaults;
        defaults.modelDirectory = zor::tools::installedData(zor::tools::kShippedModel);
        defaults.video = zor::tools::installedData(zor::tools::kTestVideo);
        const std::optional<BenchOptions> options = parseOptions(argc, argv, defaults, std::cout);
        return options ? run(*options) : zor::tools::kExitDone;
    });
}
