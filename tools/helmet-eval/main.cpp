// helmet-eval: scores a ZORCustomHMD library against labelled images or a
// labelled video, through the plugin interface only, and reports COCO-style
// AP and precision/recall/F1 per class.
#include "CurvePlot.h"
#include "EvalOptions.h"
#include "EvalRun.h"
#include "InstalledData.h"
#include "Report.h"
#include "TextFile.h"
#include "ToolExit.h"

#include <iostream>
#include <optional>
#include <sstream>

namespace {

// Inputs and output places are checked before the run, so that a typo costs
// no run and nothing waits on a FIFO.
void checkPaths(const zor::eval::Options& options) {
    if (!options.video.empty()) {
        zor::tools::requireRegularFile(options.video, "video");
        zor::tools::requireRegularFile(options.labelsFile, "labels file");
    }
    if (!options.excludeFile.empty()) {
        zor::tools::requireRegularFile(options.excludeFile, "exclusion list");
    }
    if (!options.jsonFile.empty()) {
        zor::tools::checkOutputFile(options.jsonFile, "JSON file");
    }
    if (!options.curvesFolder.empty()) {
        zor::tools::checkOutputFolder(options.curvesFolder, "curves folder");
    }
}

int run(const zor::eval::Options& options) {
    checkPaths(options);
    const zor::eval::EvalReport report = zor::eval::runEvaluation(options);
    zor::eval::printTable(std::cout, report);
    if (!options.jsonFile.empty()) {
        std::ostringstream json;
        zor::eval::writeJson(json, report);
        zor::tools::writeTextFile(options.jsonFile, json.str());
    }
    if (!options.curvesFolder.empty()) {
        zor::eval::writeCurves(options.curvesFolder, report.classes, report.threshold);
    }
    return zor::tools::kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    return zor::tools::runToolMain("helmet-eval", [&] {
        const std::optional<zor::eval::Options> options =
            zor::eval::parseOptions(argc, argv, zor::tools::installedData(zor::tools::kShippedModel).string());
        return options ? run(*options) : zor::tools::kExitDone;
    });
}
