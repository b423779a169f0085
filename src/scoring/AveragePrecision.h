// Precision-recall curve and interpolated average precision of one class,
// from its detections ranked over the whole dataset.
#pragma once

#include <vector>

namespace zor::eval {

struct RankedDetection {
    float confidence = 0.0f;
    bool truePositive = false;
};

// The curve after each detection: recall, precision, and that detection's confidence.
struct PrPoint {
    double recall = 0.0;
    double precision = 0.0;
    float confidence = 0.0f;
};

// `ranked` must already be in rank order. Empty when there is no ground truth.
std::vector<PrPoint> precisionRecallCurve(const std::vector<RankedDetection>& ranked, long groundTruth);

// Precision made monotone (each point takes the best precision at or beyond
// its recall), sampled at recall 0, 1/intervals, ..., 1: intervals + 1 values,
// 0 where the curve never reaches that recall.
std::vector<double> sampledPrecision(const std::vector<PrPoint>& curve, int intervals = 100);

// The mean of sampledPrecision: intervals 100 is COCO's 101-point AP, 10 the
// PASCAL VOC 2007 11-point AP. NaN when there is no ground truth.
double interpolatedAveragePrecision(const std::vector<RankedDetection>& ranked, long groundTruth, int intervals = 100);

}  // namespace zor::eval
