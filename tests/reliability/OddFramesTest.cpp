// Every kind of frame a caller might pass: each gives an empty or a valid list
// and never an exception.
#include "DetectorTestSupport.h"

using namespace zor::test;

namespace {

class OddFrames : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(detector.Initialize(testModel("v5_basic").string(), 0.6f, labelMap)); }

    // Valid means: known class, confidence within [threshold, 1], box inside the frame.
    void expectValid(const std::vector<CustomObject>& results, const cv::Mat& frame) {
        for (const auto& obj : results) {
            EXPECT_TRUE(obj.classId == 0 || obj.classId == 1) << obj.classId;
            EXPECT_GE(obj.confidence, 0.6f);
            EXPECT_LE(obj.confidence, 1.0f);
            EXPECT_GE(obj.box.width, 1);
            EXPECT_GE(obj.box.height, 1);
            EXPECT_EQ(obj.box & cv::Rect(0, 0, frame.cols, frame.rows), obj.box);
        }
    }

    ZORCustomHMD detector;
    std::string labelMap;
};

}  // namespace

TEST_F(OddFrames, EveryDepthAndChannelCountIsHandled) {
    int accepted = 0;
    for (int depth : {CV_8U, CV_8S, CV_16U, CV_16S, CV_32S, CV_32F, CV_64F, CV_16F}) {
        for (int channels = 1; channels <= 4; ++channels) {
            SCOPED_TRACE("depth " + std::to_string(depth) + ", channels " + std::to_string(channels));
            const cv::Mat frame(64, 64, CV_MAKETYPE(depth, channels), cv::Scalar::all(1));
            std::vector<CustomObject> results;
            EXPECT_NO_THROW(results = detector.RunInference(frame, "odd"));
            expectValid(results, frame);
            const bool supported = depth == CV_8U && channels != 2;
            EXPECT_EQ(results.empty(), !supported);
            accepted += supported ? 1 : 0;
        }
    }
    EXPECT_EQ(accepted, 3);
}

TEST_F(OddFrames, ExtremeShapesGiveEmptyOrValidLists) {
    const cv::Size sizes[] = {{1, 1}, {10000, 1}, {1, 10000}, {16, 16}, {7680, 4320}, {3840, 16}, {17, 9000}};
    for (const cv::Size size : sizes) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        const cv::Mat frame(size, CV_8UC3, cv::Scalar::all(128));
        std::vector<CustomObject> results;
        EXPECT_NO_THROW(results = detector.RunInference(frame));
        expectValid(results, frame);
    }
}

TEST_F(OddFrames, RegionsOfLargerImagesAreValid) {
    const cv::Mat canvas(1000, 1500, CV_8UC3, cv::Scalar(10, 200, 30));
    const cv::Rect regions[] = {{0, 0, 64, 64}, {1, 1, 999, 333}, {1400, 900, 100, 100}, {700, 0, 17, 1000}};
    for (const cv::Rect& region : regions) {
        const cv::Mat frame = canvas(region);
        std::vector<CustomObject> results;
        EXPECT_NO_THROW(results = detector.RunInference(frame));
        expectValid(results, frame);
        const auto fromCopy = detector.RunInference(frame.clone());
        EXPECT_EQ(results.size(), fromCopy.size());
    }
}

TEST_F(OddFrames, MultiDimensionalAndHeaderOnlyMatricesGiveNothing) {
    const int sizes[] = {3, 64, 64};
    EXPECT_TRUE(detector.RunInference(cv::Mat(3, sizes, CV_8UC1, cv::Scalar::all(0))).empty());
    EXPECT_TRUE(detector.RunInference(cv::Mat(0, 64, CV_8UC3)).empty());
    EXPECT_TRUE(detector.RunInference(cv::Mat(64, 0, CV_8UC3)).empty());
}
