// The scoring core against cases worked out by hand: IoU, COCO-style greedy
// matching, 101-point interpolated AP and the per-class figures.
#include "EvalCore.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using zor::eval::PredictedBox;
using zor::eval::RankedDetection;

// A sum of 101 samples differs from the closed form in the last bits only.
constexpr double kSum = 1e-12;

PredictedBox det(float confidence, cv::Rect2d box, const std::string& name = "helmet") {
    return {name, confidence, box};
}

std::vector<RankedDetection> ranks(const std::string& pattern) {  // "TF T": T true, F false positive
    std::vector<RankedDetection> ranked;
    float confidence = 1.0f;
    for (const char c : pattern) {
        if (c == 'T' || c == 'F') {
            ranked.push_back({confidence -= 0.01f, c == 'T'});
        }
    }
    return ranked;
}

TEST(HelmetEvalIou, EdgeCases) {
    const cv::Rect2d box(0, 0, 10, 10);
    EXPECT_DOUBLE_EQ(zor::eval::iou(box, box), 1.0);
    EXPECT_EQ(zor::eval::iou(box, cv::Rect2d(10, 0, 10, 10)), 0.0) << "touching boxes do not overlap";
    EXPECT_EQ(zor::eval::iou(box, cv::Rect2d(0, 0, 10, 5)), 0.5) << "50 / 100, exactly";
    EXPECT_DOUBLE_EQ(zor::eval::iou(box, cv::Rect2d(5, 0, 10, 10)), 50.0 / 150.0);
    EXPECT_EQ(zor::eval::iou(box, cv::Rect2d(3, 3, 0, 0)), 0.0) << "an empty box";
    EXPECT_EQ(zor::eval::iou(cv::Rect2d(0, 0, 0, 0), cv::Rect2d(0, 0, 0, 0)), 0.0);
}

TEST(HelmetEvalMatching, HighestConfidenceFirstAndEachTruthOnce) {
    const std::vector<cv::Rect2d> truths{{0, 0, 10, 10}, {50, 50, 10, 10}};
    // Perfect detections, listed in any order.
    EXPECT_EQ(zor::eval::matchDetections({det(0.5f, truths[1]), det(0.9f, truths[0])}, truths, 0.5),
              (std::vector<int>{1, 0}));
    // A duplicate of one box: the more confident one takes it, wherever listed.
    EXPECT_EQ(zor::eval::matchDetections({det(0.6f, {1, 0, 10, 10}), det(0.8f, {0, 0, 10, 10})}, truths, 0.5),
              (std::vector<int>{-1, 0}));
    // Equal confidence: the one listed first takes it (stable order).
    EXPECT_EQ(zor::eval::matchDetections({det(0.7f, {1, 0, 10, 10}), det(0.7f, {0, 0, 10, 10})}, truths, 0.5),
              (std::vector<int>{0, -1}));
    EXPECT_EQ(zor::eval::matchDetections({}, truths, 0.5), std::vector<int>{});
    EXPECT_EQ(zor::eval::matchDetections({det(0.9f, truths[0])}, {}, 0.5), std::vector<int>{-1});
}

TEST(HelmetEvalMatching, IouThresholdIsInclusive) {
    const std::vector<cv::Rect2d> truth{{0, 0, 10, 10}};
    EXPECT_EQ(zor::eval::matchDetections({det(0.9f, {0, 0, 10, 5})}, truth, 0.5), std::vector<int>{0}) << "IoU 0.5";
    EXPECT_EQ(zor::eval::matchDetections({det(0.9f, {0, 0, 10, 4.99})}, truth, 0.5), std::vector<int>{-1});
    EXPECT_EQ(zor::eval::matchDetections({det(0.9f, {10, 0, 10, 10})}, truth, 0.01), std::vector<int>{-1})
        << "touching is never a match";
}

TEST(HelmetEvalMatching, CrowdedSceneIsGreedyByBestIou) {
    // Two overlapping heads. G0 = (0,0,10,10), G1 = (4,0,10,10).
    const std::vector<cv::Rect2d> truths{{0, 0, 10, 10}, {4, 0, 10, 10}};
    // D0 (0.9) at (3,0): IoU with G0 = 70/130 = 0.54, with G1 = 90/110 = 0.82 -> takes G1.
    // D1 (0.8) at (4,0) = G1 exactly, but G1 is taken; IoU with G0 = 60/140 = 0.43 < 0.5 -> FP.
    // Greedy by confidence, not the best assignment overall (D0->G0, D1->G1 would give two).
    EXPECT_EQ(zor::eval::matchDetections({det(0.8f, {4, 0, 10, 10}), det(0.9f, {3, 0, 10, 10})}, truths, 0.5),
              (std::vector<int>{-1, 1}));
    // At IoU 0.4 D1 falls back to G0 (0.43).
    EXPECT_EQ(zor::eval::matchDetections({det(0.8f, {4, 0, 10, 10}), det(0.9f, {3, 0, 10, 10})}, truths, 0.4),
              (std::vector<int>{0, 1}));
    // Equal IoU with both truths: the first truth in label order.
    EXPECT_EQ(zor::eval::matchDetections({det(0.9f, {2, 0, 10, 10})}, truths, 0.5), std::vector<int>{0});
}

TEST(HelmetEvalMatching, IgnoredTruthsOnlyWhenNoOtherMatches) {
    // G0 ignored and the better overlap (IoU 1), G1 counted (IoU 0.82).
    const std::vector<cv::Rect2d> truths{{0, 0, 10, 10}, {1, 0, 10, 10}};
    const std::vector<bool> ignored{true, false};
    EXPECT_EQ(zor::eval::matchDetections({det(0.9f, truths[0])}, truths, 0.5, ignored), std::vector<int>{1});
    // The second detection falls back to the ignored one, the third finds both used up.
    EXPECT_EQ(zor::eval::matchDetections({det(0.7f, truths[0]), det(0.9f, truths[0]), det(0.5f, truths[0])}, truths,
                                         0.5, ignored),
              (std::vector<int>{0, 1, -1}));
    EXPECT_EQ(zor::eval::matchDetections({det(0.9f, truths[0])}, truths, 0.5, {}), std::vector<int>{0})
        << "nothing ignored: the best IoU";
}

TEST(HelmetEvalObjectSize, HalfOpenAreaRanges) {
    using zor::eval::ObjectSize;
    EXPECT_EQ(zor::eval::objectSizeOf({0, 0, 31.99, 32}), ObjectSize::small);
    EXPECT_EQ(zor::eval::objectSizeOf({0, 0, 32, 32}), ObjectSize::medium);
    EXPECT_EQ(zor::eval::objectSizeOf({0, 0, 16, 64}), ObjectSize::medium) << "by area, not side";
    EXPECT_EQ(zor::eval::objectSizeOf({0, 0, 96, 95.99}), ObjectSize::medium);
    EXPECT_EQ(zor::eval::objectSizeOf({5, 5, 96, 96}), ObjectSize::large);
}

TEST(HelmetEvalAveragePrecision, PerfectEmptyAndUndefined) {
    EXPECT_DOUBLE_EQ(zor::eval::interpolatedAveragePrecision(ranks("TTT"), 3), 1.0);
    EXPECT_EQ(zor::eval::interpolatedAveragePrecision({}, 3), 0.0) << "no detections";
    EXPECT_EQ(zor::eval::interpolatedAveragePrecision(ranks("FFF"), 3), 0.0);
    EXPECT_TRUE(std::isnan(zor::eval::interpolatedAveragePrecision(ranks("FF"), 0))) << "no ground truth";
    EXPECT_TRUE(std::isnan(zor::eval::interpolatedAveragePrecision({}, 0)));
}

TEST(HelmetEvalAveragePrecision, HundredAndOnePointInterpolation) {
    // 3 truths; T F T: precision 1, 1/2, 2/3 at recall 1/3, 1/3, 2/3. Made
    // monotone: 1, 2/3, 2/3. Recall 0..0.33 (34 samples) -> 1, 0.34..0.66 (33)
    // -> 2/3, 0.67..1 (34) never reached -> 0. AP = (34 + 22) / 101.
    EXPECT_NEAR(zor::eval::interpolatedAveragePrecision(ranks("TFT"), 3), 56.0 / 101.0, kSum);
    // 4 truths; F T: recall 0, 1/4 at precision 0, 1/2; monotone 1/2, 1/2.
    // Recall 0..0.25 (26 samples, 0.25 itself reached exactly) -> 1/2: 13 / 101.
    EXPECT_NEAR(zor::eval::interpolatedAveragePrecision(ranks("FT"), 4), 13.0 / 101.0, kSum);
    // The samples themselves for T F T, at their boundaries.
    const std::vector<double> samples = zor::eval::sampledPrecision(zor::eval::precisionRecallCurve(ranks("TFT"), 3));
    ASSERT_EQ(samples.size(), 101u);
    EXPECT_EQ(samples[33], 1.0);
    EXPECT_DOUBLE_EQ(samples[34], 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(samples[66], 2.0 / 3.0);
    EXPECT_EQ(samples[67], 0.0);
}

TEST(HelmetEvalAveragePrecision, PublishedWorkedExample) {
    // R. Padilla, S. L. Netto, E. A. B. da Silva, "A Survey on Performance
    // Metrics for Object-Detection Algorithms", IWSSIP 2020, and the README of
    // github.com/rafaelpadilla/Object-Detection-Metrics: 7 images, 15 truths,
    // 24 detections (IoU 0.3), ranked R Y J A U C M F D B H P E X N T K Q V I L S G O.
    // Published: 11-point AP 26.84%, all-point AP 24.56%.
    // TPs at ranks 1, 3, 10, 12, 13, 14, 23: recall k/15 with precision
    // 1, 2/3, 3/10, 4/12, 5/13, 6/14, 7/23; monotone 1, 2/3, 3/7 (x4), 7/23.
    // 11-point: (1 + 2/3 + 3/7 [0.2, 0.3, 0.4]) / 11 = 0.26840 -> 26.84%.
    // 101-point: recall 0..0.06 -> 1 (7), 0.07..0.13 -> 2/3 (7),
    // 0.14..0.40 -> 3/7 (27; 0.40 = 6/15 reached exactly), 0.41..0.46 -> 7/23 (6):
    // (7 + 14/3 + 81/7 + 42/23) / 101 = 0.248160.
    const auto ranked = ranks("TFTFFFFFFTFTTTFFFFFFFFTF");
    EXPECT_NEAR(zor::eval::interpolatedAveragePrecision(ranked, 15, 10), 0.2684, 5e-5);
    EXPECT_NEAR(zor::eval::interpolatedAveragePrecision(ranked, 15, 100),
                (7.0 + 14.0 / 3.0 + 81.0 / 7.0 + 42.0 / 23.0) / 101.0, kSum);
}

class HelmetEvalEvaluator : public testing::Test {
protected:
    zor::eval::Evaluator evaluator{{{"helmet", "head"}, 0.6, 0.5}};
    const cv::Rect2d box{0, 0, 10, 10};
    const cv::Rect2d elsewhere{50, 50, 10, 10};

    zor::eval::ClassFigures figures(std::size_t index) const { return evaluator.figures().at(index); }
};

TEST_F(HelmetEvalEvaluator, TiesAcrossImagesKeepImageOrder) {
    // Same confidence: image 0 is a false positive, image 1 a true positive:
    // ranked F T -> precision 1/2 at recall 1 -> AP 1/2. The other way round 1.
    evaluator.addImage({}, {det(0.9f, box)});
    evaluator.addImage({{"helmet", box}}, {det(0.9f, box)});
    EXPECT_DOUBLE_EQ(figures(0).ap50, 0.5);

    zor::eval::Evaluator reversed({{"helmet"}, 0.6, 0.5});
    reversed.addImage({{"helmet", box}}, {det(0.9f, box)});
    reversed.addImage({}, {det(0.9f, box)});
    EXPECT_DOUBLE_EQ(reversed.figures().at(0).ap50, 1.0);
    EXPECT_EQ(reversed.images(), 2);

    // Enough ties that an unstable sort would reorder them: 20 true positives
    // then 20 false positives, all at 0.9, rank T...T F...F -> AP 1.
    zor::eval::Evaluator many({{"helmet"}, 0.6, 0.5});
    for (int image = 0; image < 40; ++image) {
        many.addImage(
            image < 20 ? std::vector<zor::eval::LabelledBox>{{"helmet", box}} : std::vector<zor::eval::LabelledBox>{},
            {det(0.9f, box)});
    }
    EXPECT_DOUBLE_EQ(many.figures().at(0).ap50, 1.0);
}

TEST_F(HelmetEvalEvaluator, CountsAtTheOperatingThreshold) {
    evaluator.addImage({{"helmet", box}, {"helmet", elsewhere}, {"head", box}},
                       {det(0.9f, box), det(0.7f, {0, 0, 10, 9}), det(0.65f, elsewhere), det(0.3f, {80, 0, 5, 5}),
                        det(0.6f, box, "head")});
    const zor::eval::ClassFigures helmet = figures(0);
    EXPECT_EQ(helmet.groundTruth, 2);
    EXPECT_EQ(helmet.detections, 4);
    EXPECT_EQ(helmet.detectionsAtThreshold, 3);
    EXPECT_EQ(helmet.truePositives, 2);  // 0.9 and 0.65; 0.7 duplicates the first box
    EXPECT_EQ(helmet.falsePositives, 1);
    EXPECT_EQ(helmet.falseNegatives, 0);
    EXPECT_DOUBLE_EQ(helmet.precision, 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(helmet.recall, 1.0);
    EXPECT_DOUBLE_EQ(helmet.f1, 0.8);  // 2*2 / (4 + 1 + 0)
    // T F T F: monotone 1, 2/3, 2/3 at recall 1/2, 1/2, 1 -> (51 + 50 * 2/3) / 101.
    EXPECT_NEAR(helmet.ap50, (51.0 + 100.0 / 3.0) / 101.0, kSum);

    zor::eval::Evaluator atHalf({{"helmet"}, 0.5, 0.5});
    atHalf.addImage({{"helmet", box}}, {det(0.5f, box), det(0.49999997f, elsewhere)});
    EXPECT_EQ(atHalf.figures().at(0).detectionsAtThreshold, 1) << "confidence exactly at the threshold counts";
}

TEST_F(HelmetEvalEvaluator, UndefinedFigures) {
    evaluator.addImage({{"helmet", box}}, {det(0.9f, elsewhere, "head"), det(0.8f, box, "person")});
    const zor::eval::ClassFigures helmet = figures(0);
    EXPECT_EQ(helmet.ap50, 0.0) << "ground truth but no detections";
    EXPECT_TRUE(std::isnan(helmet.precision));
    EXPECT_EQ(helmet.recall, 0.0);
    EXPECT_EQ(helmet.f1, 0.0);
    const zor::eval::ClassFigures head = figures(1);
    EXPECT_TRUE(std::isnan(head.ap50));
    EXPECT_TRUE(std::isnan(head.ap50to95));
    EXPECT_TRUE(std::isnan(head.recall));
    EXPECT_EQ(head.precision, 0.0);
    EXPECT_EQ(head.f1, 0.0);
    EXPECT_TRUE(head.curve.empty());
    EXPECT_EQ(zor::eval::meanOfDefined(evaluator.figures(), &zor::eval::ClassFigures::ap50), 0.0) << "head left out";

    zor::eval::Evaluator nothing({{"helmet"}, 0.6, 0.5});
    nothing.addImage({}, {});
    EXPECT_TRUE(std::isnan(nothing.figures().at(0).f1));
    EXPECT_TRUE(std::isnan(zor::eval::meanOfDefined(nothing.figures(), &zor::eval::ClassFigures::ap50)));
}

TEST_F(HelmetEvalEvaluator, AveragesOverCocoIouThresholds) {
    // IoU 0.72 matches at 0.50, 0.55, 0.60, 0.65, 0.70 (5 of 10) -> AP50:95 0.5.
    evaluator.addImage({{"helmet", {0, 0, 100, 100}}}, {det(0.9f, {0, 0, 100, 72})});
    const zor::eval::ClassFigures helmet = figures(0);
    EXPECT_EQ(helmet.ap50, 1.0);
    EXPECT_DOUBLE_EQ(helmet.ap50to95, 0.5);
    EXPECT_EQ(helmet.apAtIou[4], 1.0);
    EXPECT_EQ(helmet.apAtIou[5], 0.0);

    zor::eval::Evaluator strict({{"helmet"}, 0.6, 0.75});
    strict.addImage({{"helmet", {0, 0, 100, 100}}}, {det(0.9f, {0, 0, 100, 72})});
    EXPECT_EQ(strict.figures().at(0).truePositives, 0) << "the counts use their own IoU";
    EXPECT_EQ(strict.figures().at(0).ap50, 1.0);
}

TEST_F(HelmetEvalEvaluator, ApPerObjectSizeIgnoresOtherSizes) {
    // Small truths s1 (20x20), s2 (10x10, never found), medium m (50x50), large l (100x100).
    const cv::Rect2d s1{0, 0, 20, 20}, s2{50, 0, 10, 10}, m{100, 0, 50, 50}, l{300, 0, 100, 100};
    evaluator.addImage(
        {{"helmet", s1}, {"helmet", s2}, {"helmet", m}, {"helmet", l}},
        {det(0.95f, {500, 500, 10, 10}), det(0.9f, s1), det(0.85f, {600, 600, 100, 100}), det(0.8f, l), det(0.5f, m)});
    const zor::eval::ClassFigures helmet = figures(0);
    const auto& [small, medium, large] = helmet.bySize;
    EXPECT_EQ(small.groundTruth, 2);
    EXPECT_EQ(medium.groundTruth, 1);
    EXPECT_EQ(large.groundTruth, 1);
    // Small: the small stray 0.95 F, s1 T; the rest matched to other sizes or
    // large and unmatched: ignored. Precision 1/2 at recall 1/2 -> 51 / 2 / 101.
    EXPECT_NEAR(small.ap50, 25.5 / 101.0, kSum);
    // Medium: only m's detection counts (every other is ignored): AP 1.
    EXPECT_EQ(medium.ap50, 1.0);
    // Large: the large stray 0.85 F, l T -> 1/2.
    EXPECT_DOUBLE_EQ(large.ap50, 0.5);
}

TEST_F(HelmetEvalEvaluator, FalseDetectionsOnImagesWithoutTheClass) {
    evaluator.addImage({{"helmet", box}}, {det(0.9f, box), det(0.9f, elsewhere), det(0.9f, box, "head")});
    evaluator.addImage({{"head", box}}, {det(0.7f, elsewhere), det(0.5f, box)});  // 0.5 is under 0.6
    evaluator.addImage({}, {det(0.6f, box), det(0.65f, elsewhere)});
    evaluator.addImage({}, {});
    const zor::eval::ClassFigures helmet = figures(0);
    EXPECT_EQ(helmet.imagesWithoutGroundTruth, 3) << "images 2, 3 and 4";
    EXPECT_EQ(helmet.falsePositivesWithoutGroundTruth, 3) << "the false helmet on image 1 has a helmet beside it";
    EXPECT_DOUBLE_EQ(helmet.falsePositivesPerImageWithoutGroundTruth, 1.0);
    const zor::eval::ClassFigures head = figures(1);
    EXPECT_EQ(head.imagesWithoutGroundTruth, 3);
    EXPECT_DOUBLE_EQ(head.falsePositivesPerImageWithoutGroundTruth, 1.0 / 3.0);
}

TEST_F(HelmetEvalEvaluator, RecallOverTallTruths) {
    // Truths 10, 16 and 30 px tall; the 16 px one is found only under the threshold.
    const cv::Rect2d shortBox{0, 0, 10, 10}, atLimit{100, 0, 10, 16}, tall{200, 0, 20, 30};
    const std::vector<zor::eval::LabelledBox> truths{{"helmet", shortBox}, {"helmet", atLimit}, {"helmet", tall}};
    const std::vector<PredictedBox> detections{det(0.9f, shortBox), det(0.5f, atLimit), det(0.8f, tall)};
    zor::eval::Evaluator sixteen({{"helmet"}, 0.6, 0.5, 16.0});
    sixteen.addImage(truths, detections);
    EXPECT_EQ(sixteen.figures().at(0).groundTruthMinHeight, 2);
    EXPECT_DOUBLE_EQ(sixteen.figures().at(0).recallMinHeight, 0.5);
    evaluator.addImage(truths, detections);
    EXPECT_EQ(figures(0).groundTruthMinHeight, 3) << "no minimum: every truth";
    EXPECT_DOUBLE_EQ(figures(0).recallMinHeight, figures(0).recall);
}

}  // namespace
