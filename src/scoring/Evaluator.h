// Scores detections against ground truth over a whole dataset, per detector
// class: COCO-style matching and AP (also per object size), counts at an
// operating threshold, and false detections on images without the class.
#pragma once

#include "AveragePrecision.h"
#include "Boxes.h"
#include "ObjectSize.h"

#include <array>
#include <limits>
#include <string>
#include <vector>

namespace zor::eval {

constexpr double kUndefined = std::numeric_limits<double>::quiet_NaN();

// COCO's IoU thresholds 0.50, 0.55, ..., 0.95.
constexpr int kCocoIouCount = 10;
double cocoIouThreshold(int index);

struct EvalSettings {
    std::vector<std::string> classNames;  // the detector's label map, in its order
    double operatingThreshold = 0.6;      // confidence for the precision/recall/F1 counts
    double countIou = 0.5;                // IoU for those counts
    double minHeight = 0.0;               // ClassFigures::recallMinHeight counts truths at least this tall (px)
};

// AP50 over the ground truth of one object size, as COCO scores an area range:
// truths of other sizes are ignored, and so is a detection matched to one of
// them (a detection takes a truth of the size first) or left unmatched with a
// box of another size; the rest are ranked as usual.
struct SizeFigures {
    long groundTruth = 0;
    double ap50 = kUndefined;  // undefined without ground truth of the size
};

struct ClassFigures {
    std::string name;
    long groundTruth = 0;
    long detections = 0;             // all the detector returned
    long detectionsAtThreshold = 0;  // confidence >= the operating threshold
    double ap50 = kUndefined;        // COCO 101-point AP at IoU 0.5; undefined without ground truth
    double ap50to95 = kUndefined;    // mean of apAtIou
    std::array<double, kCocoIouCount> apAtIou{};
    // At the operating threshold and countIou.
    long truePositives = 0;
    long falsePositives = 0;
    long falseNegatives = 0;
    double precision = kUndefined;  // undefined without detections
    double recall = kUndefined;     // undefined without ground truth
    double f1 = kUndefined;         // 2TP / (2TP + FP + FN); undefined with neither
    std::vector<PrPoint> curve;     // at IoU 0.5, one point per detection in rank order

    // Indexed by ObjectSize.
    std::array<SizeFigures, kObjectSizeCount> bySize{};
    // Images with no ground truth of the class, and the class's detections at
    // the operating threshold on them (every one false).
    long imagesWithoutGroundTruth = 0;
    long falsePositivesWithoutGroundTruth = 0;
    double falsePositivesPerImageWithoutGroundTruth = kUndefined;  // undefined without such images
    // Recall at the operating threshold and countIou over the truths at least
    // EvalSettings::minHeight tall (the usual matching, counted on those truths).
    long groundTruthMinHeight = 0;
    double recallMinHeight = kUndefined;
};

class Evaluator {
public:
    explicit Evaluator(EvalSettings settings);

    // One image (or frame), in dataset order. Boxes and detections of classes
    // outside the label map are left out.
    void addImage(const std::vector<LabelledBox>& truths, const std::vector<PredictedBox>& detections);

    long images() const { return images_; }
    const EvalSettings& settings() const { return settings_; }

    // Detections ranked over the dataset by confidence; ties keep image order,
    // then the detector's output order.
    std::vector<ClassFigures> figures() const;

private:
    enum class SizeOutcome : unsigned char { falsePositive, truePositive, ignored };
    struct Scored {
        float confidence = 0.0f;
        std::array<bool, kCocoIouCount> matchedAt{};
        bool matchedForCounts = false;
        std::array<SizeOutcome, kObjectSizeCount> bySize{};  // at IoU 0.5
    };
    struct PerClass {
        long groundTruth = 0;
        std::vector<Scored> scored;  // in image order, then output order
        std::array<long, kObjectSizeCount> groundTruthBySize{};
        long imagesWithoutGroundTruth = 0;
        long falsePositivesWithoutGroundTruth = 0;
        long groundTruthMinHeight = 0;
        long truePositivesMinHeight = 0;
    };

    EvalSettings settings_;
    std::vector<PerClass> classes_;
    long images_ = 0;
};

// Mean of the defined values of `member` over the classes; undefined if none.
double meanOfDefined(const std::vector<ClassFigures>& figures, double ClassFigures::*member);

}  // namespace zor::eval
