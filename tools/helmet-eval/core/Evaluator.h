// Scores detections against ground truth over a whole dataset, per detector
// class: COCO-style matching and AP, and counts at an operating threshold.
#pragma once

#include "AveragePrecision.h"
#include "Boxes.h"

#include <array>
#include <limits>
#include <string>
#include <vector>

namespace zor::eval {

constexpr double undefined = std::numeric_limits<double>::quiet_NaN();

// COCO's IoU thresholds 0.50, 0.55, ..., 0.95.
constexpr int cocoIouCount = 10;
double cocoIouThreshold(int index);

struct EvalSettings {
    std::vector<std::string> classNames;  // the detector's label map, in its order
    double operatingThreshold = 0.6;      // confidence for the precision/recall/F1 counts
    double countIou = 0.5;                // IoU for those counts
};

struct ClassFigures {
    std::string name;
    long groundTruth = 0;
    long detections = 0;             // all the detector returned
    long detectionsAtThreshold = 0;  // confidence >= the operating threshold
    double ap50 = undefined;         // COCO 101-point AP at IoU 0.5; undefined without ground truth
    double ap50to95 = undefined;     // mean of apAtIou
    std::array<double, cocoIouCount> apAtIou{};
    // At the operating threshold and countIou.
    long truePositives = 0;
    long falsePositives = 0;
    long falseNegatives = 0;
    double precision = undefined;  // undefined without detections
    double recall = undefined;     // undefined without ground truth
    double f1 = undefined;         // 2TP / (2TP + FP + FN); undefined with neither
    std::vector<PrPoint> curve;    // at IoU 0.5, one point per detection in rank order
};

class Evaluator {
public:
    explicit Evaluator(EvalSettings settings);

    // One image (or frame), in dataset order. Boxes and detections of classes
    // outside the label map are left out.
    void addImage(const std::vector<LabelledBox>& truths, const std::vector<Detection>& detections);

    long images() const { return images_; }
    const EvalSettings& settings() const { return settings_; }

    // Detections ranked over the dataset by confidence; ties keep image order,
    // then the detector's output order.
    std::vector<ClassFigures> figures() const;

private:
    struct Scored {
        float confidence = 0.0f;
        std::array<bool, cocoIouCount> matchedAt{};
        bool matchedForCounts = false;
    };
    struct PerClass {
        long groundTruth = 0;
        std::vector<Scored> scored;  // in image order, then output order
    };

    EvalSettings settings_;
    std::vector<PerClass> classes_;
    long images_ = 0;
};

// Mean of the defined values of `member` over the classes; undefined if none.
double meanOfDefined(const std::vector<ClassFigures>& figures, double ClassFigures::*member);

}  // namespace zor::eval
