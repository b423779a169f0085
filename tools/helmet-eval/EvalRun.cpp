#include "EvalRun.h"

#include "ClassMap.h"
#include "GrayscaleFrame.h"
#include "InitialisedDetector.h"
#include "LabelledData.h"
#include "ProgressLine.h"
#include "ToolExit.h"

#include "ZORCustomHMD.h"

#include <chrono>
#include <stdexcept>

namespace zor::eval {

namespace {

std::vector<PredictedBox> toDetections(const std::vector<CustomObject>& objects,
                                       const std::vector<std::string>& labels) {
    std::vector<PredictedBox> detections;
    detections.reserve(objects.size());
    for (const CustomObject& object : objects) {
        std::string name = object.className;
        // A library that leaves className empty is still scored by its class id.
        if (name.empty() && object.classId >= 0 && static_cast<std::size_t>(object.classId) < labels.size()) {
            name = labels[static_cast<std::size_t>(object.classId)];
        }
        detections.push_back({name, object.confidence, cv::Rect2d(object.box)});
    }
    return detections;
}

}  // namespace

EvalReport runEvaluation(const Options& options) {
    const ClassMap classes = parseClassMap(options.classMap.empty() ? kDefaultClassMap : options.classMap);
    const std::unique_ptr<LabelledData> data = openLabelledData(options, classes);
    ZORCustomHMD library;
    tools::InitialisedDetector detector(library, options.modelDirectory, options.detectThreshold);
    if (options.optimize && !detector.plugin().OptimizeModel(true)) {
        throw std::runtime_error("OptimizeModel(true) returned false for " + options.modelDirectory);
    }
    const std::vector<std::string> labels = parseLabelMap(detector.labelMap());
    if (labels.empty()) {
        throw tools::UserError("Initialize gave an empty label map for " + options.modelDirectory);
    }
    checkClassMap(classes, labels);

    Evaluator evaluator({labels, options.threshold, options.iou, options.minHeight});
    tools::ProgressLine progress = tools::ProgressLine::onStandardError();
    const std::string noun = options.video.empty() ? "image" : "frame";
    std::chrono::steady_clock::duration inference{};
    LabelledFrame frame;
    while (data->next(frame)) {
        if (options.grayscale) {
            frame.image = grayscaleFrame(frame.image);
        }
        std::vector<CustomObject> objects;
        const auto start = std::chrono::steady_clock::now();
        try {
            objects = detector.detect(frame.image, options.cameraId);
        } catch (const std::exception& error) {
            throw std::runtime_error("RunInference failed on " + frame.name + ": " + error.what());
        } catch (...) {
            throw std::runtime_error("RunInference failed on " + frame.name);
        }
        inference += std::chrono::steady_clock::now() - start;
        evaluator.addImage(frame.truths, toDetections(objects, labels));
        progress.show(tools::countText(noun, evaluator.images(), data->expectedFrames()));
    }
    progress.finish(tools::countText(noun, evaluator.images(), data->expectedFrames()));
    if (evaluator.images() == 0) {
        throw tools::UserError("nothing to score in " + data->description());
    }

    EvalReport report;
    report.modelDirectory = options.modelDirectory;
    report.data = data->description();
    report.video = !options.video.empty();
    report.frames = evaluator.images();
    report.excluded = data->excluded();
    report.detectThreshold = options.detectThreshold;
    report.threshold = options.threshold;
    report.iou = options.iou;
    report.grayscale = options.grayscale;
    report.minHeight = options.minHeight;
    report.meanInferenceMs =
        std::chrono::duration<double, std::milli>(inference).count() / static_cast<double>(report.frames);
    report.classes = evaluator.figures();
    report.meanAp50 = meanOfDefined(report.classes, &ClassFigures::ap50);
    report.meanAp50to95 = meanOfDefined(report.classes, &ClassFigures::ap50to95);
    return report;
}

}  // namespace zor::eval
