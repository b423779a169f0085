#include "Decode.h"

#include <opencv2/dnn.hpp>

#include <algorithm>
#include <cmath>
#include <map>

namespace zor::hmd {
namespace {

struct HeadShape {
    int candidates;
    int attributes;
};

int attributesPerCandidate(OutputLayout layout, int classCount) {
    return (layout == OutputLayout::YoloV5 ? 5 : 4) + classCount;
}

HeadShape headShape(const cv::Mat& output, OutputLayout layout) {
    if (layout == OutputLayout::YoloV5) {
        return {output.size[1], output.size[2]};
    }
    return {output.size[2], output.size[1]};
}

}  // namespace

std::string describeShapeMismatch(const cv::Mat& output, OutputLayout layout, int classCount) {
    const int attributes = attributesPerCandidate(layout, classCount);
    const std::string expected = layout == OutputLayout::YoloV5 ? "[1, N, " + std::to_string(attributes) + "]"
                                                                : "[1, " + std::to_string(attributes) + ", N]";
    std::string actual = "[";
    for (int axis = 0; axis < output.dims; ++axis) {
        actual += (axis ? ", " : "") + std::to_string(output.size[axis]);
    }
    actual += "]";
    const bool matches = output.type() == CV_32F && output.dims == 3 && output.size[0] == 1 &&
                         headShape(output, layout).attributes == attributes && headShape(output, layout).candidates > 0;
    if (matches) {
        return {};
    }
    return std::string("output ") + actual + " does not match layout " + layoutName(layout) + " with " +
           std::to_string(classCount) + " classes, expected " + expected;
}

std::vector<Candidate> decodeOutput(const cv::Mat& output, OutputLayout layout, int classCount, float minConfidence) {
    const HeadShape shape = headShape(output, layout);
    const float* data = output.ptr<float>();
    // YOLOv5 rows hold one candidate each; YOLOv8 rows hold one attribute.
    const bool candidateMajor = layout == OutputLayout::YoloV5;
    auto at = [&](int candidate, int attribute) {
        return candidateMajor ? data[candidate * shape.attributes + attribute]
                              : data[attribute * shape.candidates + candidate];
    };
    const int firstClass = candidateMajor ? 5 : 4;

    std::vector<Candidate> candidates;
    for (int i = 0; i < shape.candidates; ++i) {
        int bestClass = 0;
        float bestScore = at(i, firstClass);
        for (int c = 1; c < classCount; ++c) {
            const float score = at(i, firstClass + c);
            if (score > bestScore) {
                bestScore = score;
                bestClass = c;
            }
        }
        const float confidence = std::clamp(candidateMajor ? at(i, 4) * bestScore : bestScore, 0.0f, 1.0f);
        // Written so that NaN scores fail the test.
        if (!(confidence >= minConfidence)) {
            continue;
        }
        const float cx = at(i, 0);
        const float cy = at(i, 1);
        const float w = at(i, 2);
        const float h = at(i, 3);
        if (!(w > 0.0f && h > 0.0f) || !std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(w) ||
            !std::isfinite(h)) {
            continue;
        }
        candidates.push_back({bestClass, confidence, cv::Rect2f(cx - w / 2, cy - h / 2, w, h)});
    }
    return candidates;
}

std::vector<Candidate> suppressOverlaps(const std::vector<Candidate>& candidates, float iouThreshold,
                                        SuppressionScope scope) {
    std::map<int, std::vector<int>> indicesByClass;
    for (int i = 0; i < static_cast<int>(candidates.size()); ++i) {
        indicesByClass[scope == SuppressionScope::PerClass ? candidates[i].classId : 0].push_back(i);
    }
    std::vector<Candidate> kept;
    for (const auto& [classId, indices] : indicesByClass) {
        std::vector<cv::Rect2d> boxes;
        std::vector<float> scores;
        for (int i : indices) {
            boxes.emplace_back(candidates[i].box);
            scores.push_back(candidates[i].confidence);
        }
        std::vector<int> survivors;
        cv::dnn::NMSBoxes(boxes, scores, 0.0f, iouThreshold, survivors);
        for (int s : survivors) {
            kept.push_back(candidates[indices[s]]);
        }
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Candidate& a, const Candidate& b) { return a.confidence > b.confidence; });
    return kept;
}

}  // namespace zor::hmd
