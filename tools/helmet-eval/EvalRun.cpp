#include "EvalRun.h"

#include "ClassMap.h"
#include "GrayscaleFrame.h"
#include "LabelledData.h"
#include "PluginDetector.h"
#include "ToolExit.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace zor::eval {

namespace {

// "image 120/600 (20%)" on standard error, rewritten in place at most four
// times a second.
class Progress {
public:
    Progress(bool enabled, long total, const char* noun) : enabled_(enabled), total_(total), noun_(noun) {}

    void update(long done, bool force = false) {
        const auto now = Clock::now();
        if (!enabled_ || (!force && now - shown_ < std::chrono::milliseconds(250))) {
            return;
        }
        shown_ = now;
        std::fprintf(stderr, "\r%s %ld", noun_, done);
        if (total_ > 0) {
            std::fprintf(stderr, "/%ld (%ld%%)", total_, 100 * done / total_);
        }
        std::fputs("   ", stderr);
        std::fflush(stderr);
    }

    void finish(long done) {
        update(done, true);
        if (enabled_) {
            std::fputc('\n', stderr);
        }
    }

private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    long total_;
    const char* noun_;
    Clock::time_point shown_{};
};

std::vector<Detection> toDetections(const std::vector<CustomObject>& objects, const std::vector<std::string>& labels) {
    std::vector<Detection> detections;
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

EvalReport runEvaluation(const Options& options, bool showProgress) {
    const ClassMap classes = parseClassMap(options.classMap.empty() ? defaultClassMap : options.classMap);
    const std::unique_ptr<LabelledData> data = openLabelledData(options, classes);
    PluginDetector detector(options.modelDirectory, options.detectThreshold, options.optimize);
    const std::vector<std::string> labels = parseLabelMap(detector.labelMap());
    if (labels.empty()) {
        throw tools::UserError("Initialize gave an empty label map for " + options.modelDirectory);
    }
    checkClassMap(classes, labels);

    Evaluator evaluator({labels, options.threshold, options.iou, options.minHeight});
    Progress progress(showProgress, data->expectedFrames(), options.video.empty() ? "image" : "frame");
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
        progress.update(evaluator.images());
    }
    progress.finish(evaluator.images());
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
