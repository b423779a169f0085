// helmet-eval: scores a ZORCustomHMD library against labelled images or a
// labelled video, through the plugin interface only, and reports COCO-style
// AP and precision/recall/F1 per class.
#include "CurvePlot.h"
#include "EvalOptions.h"
#include "EvalRun.h"
#include "Report.h"
#include "TextFile.h"
#include "ToolExit.h"

#include <opencv2/core/utils/logger.hpp>

#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>

#ifndef HELMET_EVAL_DEFAULT_MODEL
#define HELMET_EVAL_DEFAULT_MODEL "models/ZOR_Helmet"
#endif

namespace {

namespace fs = std::filesystem;

// Output places are checked before the run, so that a typo costs no run.
void checkOutputs(const zor::eval::Options& options) {
    std::error_code error;
    if (!options.jsonFile.empty()) {
        const fs::path parent = fs::absolute(options.jsonFile, error).parent_path();
        if (!fs::is_directory(parent, error)) {
            throw zor::tools::UserError("no folder for the JSON file " + options.jsonFile);
        }
    }
    if (!options.curvesFolder.empty() && !fs::is_directory(options.curvesFolder, error) &&
        !fs::create_directories(options.curvesFolder, error)) {
        throw zor::tools::UserError("cannot create the curves folder " + options.curvesFolder);
    }
}

int run(const zor::eval::Options& options) {
    checkOutputs(options);
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
    // OpenCV's own warnings (video back ends probing a file) would add lines
    // to the single line an error gives.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    return zor::tools::runToolMain("helmet-eval", [&] {
        const std::optional<zor::eval::Options> options =
            zor::eval::parseOptions(argc, argv, HELMET_EVAL_DEFAULT_MODEL);
        return options ? run(*options) : zor::tools::kExitDone;
    });
}
