// Decoding, overlap suppression and letterbox geometry on hand-made tensors.
#include "Decode.h"
#include "Preprocess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace zor::hmd;

namespace {

// [1, rows, columns] float tensor from row-major values.
cv::Mat tensor(int rows, int columns, std::vector<float> values) {
    const int sizes[] = {1, rows, columns};
    cv::Mat output(3, sizes, CV_32F);
    std::copy(values.begin(), values.end(), output.ptr<float>());
    return output;
}

void expectCandidate(const Candidate& c, int classId, float confidence, cv::Rect2f box) {
    EXPECT_EQ(c.classId, classId);
    EXPECT_NEAR(c.confidence, confidence, 1e-6);
    EXPECT_NEAR(c.box.x, box.x, 1e-4);
    EXPECT_NEAR(c.box.y, box.y, 1e-4);
    EXPECT_NEAR(c.box.width, box.width, 1e-4);
    EXPECT_NEAR(c.box.height, box.height, 1e-4);
}

}  // namespace

TEST(DecodeYoloV5, ScoreIsObjectnessTimesBestClass) {
    const cv::Mat output = tensor(3, 7,
                                  {
                                      10, 20, 4, 6, 0.9f, 0.2f, 0.8f,  // head: 0.72
                                      30, 30, 8, 8, 0.5f, 0.9f, 0.1f,  // 0.45: below 0.5
                                      50, 40, 2, 2, 1.0f, 0.6f, 0.6f,  // tie: the first class wins
                                  });
    const auto candidates = decodeOutput(output, OutputLayout::YoloV5, 2, 0.5f);
    ASSERT_EQ(candidates.size(), 2u);
    expectCandidate(candidates[0], 1, 0.72f, {8, 17, 4, 6});
    expectCandidate(candidates[1], 0, 0.6f, {49, 39, 2, 2});
}

TEST(DecodeYoloV8, ColumnsAreCandidatesWithoutObjectness) {
    const cv::Mat output = tensor(6, 3,
                                  {
                                      10, 50, 90,        // cx
                                      20, 60, 70,        // cy
                                      4, 10, 6,          // w
                                      6, 10, 2,          // h
                                      0.7f, 0.1f, 0.3f,  // helmet
                                      0.2f, 0.9f, 0.3f,  // head
                                  });
    const auto candidates = decodeOutput(output, OutputLayout::YoloV8, 2, 0.5f);
    ASSERT_EQ(candidates.size(), 2u);
    expectCandidate(candidates[0], 0, 0.7f, {8, 17, 4, 6});
    expectCandidate(candidates[1], 1, 0.9f, {45, 55, 10, 10});
}

TEST(DecodeOutput, ThresholdIsInclusiveAndScoresAreClamped) {
    const cv::Mat output = tensor(6, 2,
                                  {
                                      10,
                                      20,
                                      10,
                                      20,
                                      4,
                                      4,
                                      4,
                                      4,
                                      0.6f,
                                      1.5f,
                                      0.0f,
                                      0.0f,
                                  });
    const auto candidates = decodeOutput(output, OutputLayout::YoloV8, 2, 0.6f);
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_FLOAT_EQ(candidates[0].confidence, 0.6f);
    EXPECT_FLOAT_EQ(candidates[1].confidence, 1.0f);
}

TEST(DecodeOutput, DropsNotANumberAndDegenerateBoxes) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // Columns: NaN score, zero width, negative height, NaN centre, infinite width.
    const cv::Mat output = tensor(6, 5,
                                  {
                                      10, 10, 10, nan, 10, 10,  10,   10,   10,   10,   4,    0,    4,    4,    inf,
                                      4,  4,  -1, 4,   4,  nan, 0.9f, 0.9f, 0.9f, 0.9f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f,
                                  });
    EXPECT_TRUE(decodeOutput(output, OutputLayout::YoloV8, 2, 0.0f).empty());
}

TEST(ShapeCheck, AcceptsOnlyTheDeclaredLayoutAndClassCount) {
    EXPECT_EQ(describeShapeMismatch(tensor(10, 7, std::vector<float>(70)), OutputLayout::YoloV5, 2), "");
    EXPECT_EQ(describeShapeMismatch(tensor(6, 10, std::vector<float>(60)), OutputLayout::YoloV8, 2), "");
    EXPECT_NE(describeShapeMismatch(tensor(10, 7, std::vector<float>(70)), OutputLayout::YoloV5, 3), "");
    EXPECT_NE(describeShapeMismatch(tensor(10, 7, std::vector<float>(70)), OutputLayout::YoloV8, 2), "");
    EXPECT_NE(describeShapeMismatch(cv::Mat(10, 7, CV_32F), OutputLayout::YoloV5, 2), "");
    EXPECT_NE(describeShapeMismatch(cv::Mat(), OutputLayout::YoloV5, 2), "");
}

TEST(ShapeCheck, NamesBothShapes) {
    const std::string why = describeShapeMismatch(tensor(10, 8, std::vector<float>(80)), OutputLayout::YoloV5, 2);
    EXPECT_NE(why.find("[1, 10, 8]"), std::string::npos) << why;
    EXPECT_NE(why.find("[1, N, 7]"), std::string::npos) << why;
}

TEST(SuppressOverlaps, KeepsTheBestOfOverlappingBoxesPerClass) {
    const std::vector<Candidate> candidates{
        {0, 0.7f, {0, 0, 10, 10}},
        {0, 0.9f, {1, 0, 10, 10}},    // overlaps the first: wins
        {1, 0.8f, {0, 0, 10, 10}},    // same place, other class: kept
        {0, 0.6f, {50, 50, 10, 10}},  // apart: kept
    };
    const auto kept = suppressOverlaps(candidates, 0.45f);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_FLOAT_EQ(kept[0].confidence, 0.9f);
    EXPECT_EQ(kept[1].classId, 1);
    EXPECT_FLOAT_EQ(kept[2].confidence, 0.6f);
}

TEST(SuppressOverlaps, ClassAgnosticGivesOneObjectOneBox) {
    const std::vector<Candidate> candidates{
        {0, 0.7f, {0, 0, 10, 10}},
        {1, 0.8f, {1, 0, 10, 10}},    // the same head called the other class: wins over the first
        {1, 0.6f, {50, 50, 10, 10}},  // apart: kept
    };
    const auto kept = suppressOverlaps(candidates, 0.45f, SuppressionScope::ClassAgnostic);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].classId, 1);
    EXPECT_FLOAT_EQ(kept[0].confidence, 0.8f);
    EXPECT_FLOAT_EQ(kept[1].confidence, 0.6f);
    EXPECT_EQ(suppressOverlaps(candidates, 0.45f, SuppressionScope::PerClass).size(), 3u);
}

TEST(SuppressOverlaps, IoUThresholdDecides) {
    // IoU of these two is 50 / 150 = 1/3.
    const std::vector<Candidate> candidates{{0, 0.9f, {0, 0, 10, 10}}, {0, 0.8f, {5, 0, 10, 10}}};
    EXPECT_EQ(suppressOverlaps(candidates, 0.3f).size(), 1u);
    EXPECT_EQ(suppressOverlaps(candidates, 0.4f).size(), 2u);
    EXPECT_TRUE(suppressOverlaps({}, 0.45f).empty());
}

TEST(Letterbox, FitsAndCentres) {
    const Letterbox fullHd = Letterbox::fit({1920, 1080}, {320, 192});
    EXPECT_DOUBLE_EQ(fullHd.scale, 1.0 / 6.0);
    EXPECT_EQ(fullHd.scaledSize, cv::Size(320, 180));
    EXPECT_EQ(fullHd.offset, cv::Point(0, 6));

    const Letterbox portrait = Letterbox::fit({100, 400}, {64, 64});
    EXPECT_EQ(portrait.scaledSize, cv::Size(16, 64));
    EXPECT_EQ(portrait.offset, cv::Point(24, 0));

    const Letterbox sliver = Letterbox::fit({10000, 1}, {64, 64});
    EXPECT_EQ(sliver.scaledSize, cv::Size(64, 1));
}

TEST(Letterbox, MapsBoxesBackAndClipsToTheFrame) {
    const Letterbox fullHd = Letterbox::fit({1920, 1080}, {320, 192});
    EXPECT_EQ(fullHd.toFrame({10, 16, 20, 30}), cv::Rect(60, 60, 120, 180));
    EXPECT_EQ(fullHd.toFrame({-5, 0, 20, 10}), cv::Rect(0, 0, 90, 24));
    EXPECT_EQ(fullHd.toFrame({310, 180, 20, 20}), cv::Rect(1860, 1044, 60, 36));
    EXPECT_TRUE(fullHd.toFrame({0, 0, 320, 4}).empty()) << "entirely in the top padding";
    EXPECT_TRUE(fullHd.toFrame({100, 100, 0.05f, 10}).empty()) << "narrower than a frame pixel";
}

TEST(InputBlob, IsRgbScaledAndPadded) {
    cv::Mat frame(100, 200, CV_8UC3, cv::Scalar(10, 20, 30));
    const Letterbox letterbox = Letterbox::fit(frame.size(), {64, 64});
    const cv::Mat blob = makeInputBlob(frame, letterbox, {64, 64}, 114);
    ASSERT_EQ(blob.dims, 4);
    EXPECT_EQ(blob.size[1], 3);
    EXPECT_EQ(blob.size[2], 64);
    EXPECT_EQ(blob.size[3], 64);
    auto at = [&](int channel, int y, int x) { return blob.ptr<float>(0, channel)[y * 64 + x]; };
    EXPECT_FLOAT_EQ(at(0, 32, 32), 30 / 255.0f);  // red first
    EXPECT_FLOAT_EQ(at(2, 32, 32), 10 / 255.0f);
    EXPECT_FLOAT_EQ(at(1, 0, 32), 114 / 255.0f);  // padding above the frame
    EXPECT_FLOAT_EQ(at(1, 63, 32), 114 / 255.0f);
}

TEST(FrameConversion, AcceptsEightBitGreyBgrAndBgra) {
    EXPECT_EQ(toDetectableBgr(cv::Mat(20, 30, CV_8UC1, cv::Scalar(7))).type(), CV_8UC3);
    EXPECT_EQ(toDetectableBgr(cv::Mat(20, 30, CV_8UC4, cv::Scalar(1, 2, 3, 4))).at<cv::Vec3b>(0, 0),
              cv::Vec3b(1, 2, 3));
    EXPECT_EQ(toDetectableBgr(cv::Mat(20, 30, CV_8UC3)).size(), cv::Size(30, 20));
}

TEST(FrameConversion, RefusesOtherTypesAndTinyFrames) {
    EXPECT_TRUE(toDetectableBgr(cv::Mat()).empty());
    EXPECT_TRUE(toDetectableBgr(cv::Mat(20, 30, CV_16UC3)).empty());
    EXPECT_TRUE(toDetectableBgr(cv::Mat(20, 30, CV_32FC3)).empty());
    EXPECT_TRUE(toDetectableBgr(cv::Mat(20, 30, CV_8UC2)).empty());
    EXPECT_TRUE(toDetectableBgr(cv::Mat(kMinFrameSide - 1, 300, CV_8UC3)).empty());
    EXPECT_TRUE(toDetectableBgr(cv::Mat(300, kMinFrameSide - 1, CV_8UC3)).empty());
    const int sizes[] = {2, 20, 20};
    EXPECT_TRUE(toDetectableBgr(cv::Mat(3, sizes, CV_8UC3)).empty());
}
