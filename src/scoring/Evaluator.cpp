#include "Evaluator.h"

#include "Matching.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

namespace zor::eval {

double cocoIouThreshold(int index) {
    // (50 + 5k) / 100 is the double nearest each decimal threshold.
    return (50.0 + 5.0 * index) / 100.0;
}

Evaluator::Evaluator(EvalSettings settings) : settings_(std::move(settings)), classes_(settings_.classNames.size()) {}

void Evaluator::addImage(const std::vector<LabelledBox>& truths, const std::vector<PredictedBox>& detections) {
    ++images_;
    for (std::size_t c = 0; c < settings_.classNames.size(); ++c) {
        const std::string& name = settings_.classNames[c];
        std::vector<cv::Rect2d> classTruths;
        for (const LabelledBox& truth : truths) {
            if (truth.className == name) {
                classTruths.push_back(truth.box);
            }
        }
        std::vector<PredictedBox> classDetections;
        for (const PredictedBox& detection : detections) {
            if (detection.className == name) {
                classDetections.push_back(detection);
            }
        }
        PerClass& perClass = classes_[c];
        perClass.groundTruth += static_cast<long>(classTruths.size());
        for (const cv::Rect2d& truth : classTruths) {
            ++perClass.groundTruthBySize[static_cast<std::size_t>(objectSizeOf(truth))];
            perClass.groundTruthMinHeight += truth.height >= settings_.minHeight ? 1 : 0;
        }
        if (classTruths.empty()) {
            ++perClass.imagesWithoutGroundTruth;
            perClass.falsePositivesWithoutGroundTruth += std::count_if(
                classDetections.begin(), classDetections.end(),
                [&](const PredictedBox& detection) { return detection.confidence >= settings_.operatingThreshold; });
        }
        const std::size_t first = perClass.scored.size();
        for (const PredictedBox& detection : classDetections) {
            Scored scored;
            scored.confidence = detection.confidence;
            perClass.scored.push_back(scored);
        }
        for (int t = 0; t < kCocoIouCount; ++t) {
            const std::vector<int> matches = matchDetections(classDetections, classTruths, cocoIouThreshold(t));
            for (std::size_t d = 0; d < matches.size(); ++d) {
                perClass.scored[first + d].matchedAt[static_cast<std::size_t>(t)] = matches[d] >= 0;
            }
        }
        const std::vector<int> matches = matchDetections(classDetections, classTruths, settings_.countIou);
        for (std::size_t d = 0; d < matches.size(); ++d) {
            perClass.scored[first + d].matchedForCounts = matches[d] >= 0;
            // Greedy by confidence: the matches of the detections at the
            // threshold are those they would get alone.
            if (matches[d] >= 0 && classDetections[d].confidence >= settings_.operatingThreshold &&
                classTruths[static_cast<std::size_t>(matches[d])].height >= settings_.minHeight) {
                ++perClass.truePositivesMinHeight;
            }
        }
        for (const ObjectSize size : kObjectSizes) {
            std::vector<bool> ignored(classTruths.size());
            for (std::size_t g = 0; g < classTruths.size(); ++g) {
                ignored[g] = objectSizeOf(classTruths[g]) != size;
            }
            const std::vector<int> sized = matchDetections(classDetections, classTruths, cocoIouThreshold(0), ignored);
            for (std::size_t d = 0; d < sized.size(); ++d) {
                const bool ignore = sized[d] >= 0 ? ignored[static_cast<std::size_t>(sized[d])]
                                                  : objectSizeOf(classDetections[d].box) != size;
                perClass.scored[first + d].bySize[static_cast<std::size_t>(size)] =
                    ignore ? SizeOutcome::ignored
                           : (sized[d] >= 0 ? SizeOutcome::truePositive : SizeOutcome::falsePositive);
            }
        }
    }
}

std::vector<ClassFigures> Evaluator::figures() const {
    std::vector<ClassFigures> all;
    for (std::size_t c = 0; c < classes_.size(); ++c) {
        const PerClass& perClass = classes_[c];
        std::vector<Scored> ranked = perClass.scored;
        std::stable_sort(ranked.begin(), ranked.end(),
                         [](const Scored& a, const Scored& b) { return a.confidence > b.confidence; });

        ClassFigures figures;
        figures.name = settings_.classNames[c];
        figures.groundTruth = perClass.groundTruth;
        figures.detections = static_cast<long>(ranked.size());
        std::vector<RankedDetection> atIou(ranked.size());
        for (int t = 0; t < kCocoIouCount; ++t) {
            for (std::size_t i = 0; i < ranked.size(); ++i) {
                atIou[i] = {ranked[i].confidence, ranked[i].matchedAt[static_cast<std::size_t>(t)]};
            }
            figures.apAtIou[static_cast<std::size_t>(t)] = interpolatedAveragePrecision(atIou, perClass.groundTruth);
            if (t == 0) {
                figures.curve = precisionRecallCurve(atIou, perClass.groundTruth);
            }
        }
        figures.ap50 = figures.apAtIou[0];
        for (const ObjectSize size : kObjectSizes) {
            const auto s = static_cast<std::size_t>(size);
            std::vector<RankedDetection> counted;
            for (const Scored& scored : ranked) {
                if (scored.bySize[s] != SizeOutcome::ignored) {
                    counted.push_back({scored.confidence, scored.bySize[s] == SizeOutcome::truePositive});
                }
            }
            figures.bySize[s].groundTruth = perClass.groundTruthBySize[s];
            figures.bySize[s].ap50 = interpolatedAveragePrecision(counted, perClass.groundTruthBySize[s]);
        }
        figures.imagesWithoutGroundTruth = perClass.imagesWithoutGroundTruth;
        figures.falsePositivesWithoutGroundTruth = perClass.falsePositivesWithoutGroundTruth;
        if (perClass.imagesWithoutGroundTruth > 0) {
            figures.falsePositivesPerImageWithoutGroundTruth =
                static_cast<double>(perClass.falsePositivesWithoutGroundTruth) /
                static_cast<double>(perClass.imagesWithoutGroundTruth);
        }
        figures.groundTruthMinHeight = perClass.groundTruthMinHeight;
        if (perClass.groundTruthMinHeight > 0) {
            figures.recallMinHeight = static_cast<double>(perClass.truePositivesMinHeight) /
                                      static_cast<double>(perClass.groundTruthMinHeight);
        }
        figures.ap50to95 = perClass.groundTruth > 0
                               ? std::accumulate(figures.apAtIou.begin(), figures.apAtIou.end(), 0.0) / kCocoIouCount
                               : kUndefined;

        for (const Scored& scored : ranked) {
            if (scored.confidence >= settings_.operatingThreshold) {
                ++figures.detectionsAtThreshold;
                ++(scored.matchedForCounts ? figures.truePositives : figures.falsePositives);
            }
        }
        figures.falseNegatives = perClass.groundTruth - figures.truePositives;
        const double tp = static_cast<double>(figures.truePositives);
        if (figures.detectionsAtThreshold > 0) {
            figures.precision = tp / static_cast<double>(figures.detectionsAtThreshold);
        }
        if (perClass.groundTruth > 0) {
            figures.recall = tp / static_cast<double>(perClass.groundTruth);
        }
        const long f1Denominator = 2 * figures.truePositives + figures.falsePositives + figures.falseNegatives;
        if (f1Denominator > 0) {
            figures.f1 = 2.0 * tp / static_cast<double>(f1Denominator);
        }
        all.push_back(std::move(figures));
    }
    return all;
}

double meanOfDefined(const std::vector<ClassFigures>& figures, double ClassFigures::*member) {
    double sum = 0.0;
    int count = 0;
    for (const ClassFigures& classFigures : figures) {
        if (!std::isnan(classFigures.*member)) {
            sum += classFigures.*member;
            ++count;
        }
    }
    return count > 0 ? sum / count : kUndefined;
}

}  // namespace zor::eval
