// One scoring run: the detector over every labelled frame, then the figures.
#pragma once

#include "EvalOptions.h"
#include "Evaluator.h"

#include <string>
#include <vector>

namespace zor::eval {

struct EvalReport {
    std::string modelDirectory;
    std::string data;  // what was scored, e.g. "site/test: 412 images (3 excluded)"
    bool video = false;
    long frames = 0;  // images or frames scored
    long excluded = 0;
    float detectThreshold = 0.0f;
    double threshold = 0.0;
    double iou = 0.0;
    bool grayscale = false;  // the frames were turned grayscale before RunInference
    double minHeight = 0.0;
    double meanInferenceMs = 0.0;
    std::vector<ClassFigures> classes;
    double meanAp50 = kUndefined;  // over the classes with ground truth
    double meanAp50to95 = kUndefined;
};

// Throws tools::UserError for an unusable model, class map or input, and
// std::runtime_error when the run itself fails. A progress line goes to
// standard error when it is a terminal.
EvalReport runEvaluation(const Options& options);

}  // namespace zor::eval
