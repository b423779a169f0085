// The staged model and video are what the contract's video tests need: the
// first frames already hold helmets, so the field checks really run, and a
// solid grey frame holds none.
#include "BuildPaths.h"
#include "ZORCustomHMD.h"

#include <gtest/gtest.h>
#include <opencv2/videoio.hpp>

#include <set>

namespace {

class StagedAssets : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(detector.Initialize(zor::test::paths::kShippedModel, 0.6f, labelMap));
        ASSERT_TRUE(video.open(zor::test::paths::kStagedVideo, cv::CAP_OPENCV_MJPEG)) << zor::test::paths::kStagedVideo;
    }

    ZORCustomHMD detector;
    std::string labelMap;
    cv::VideoCapture video;
};

}  // namespace

TEST_F(StagedAssets, ModelReportsHelmetAndHeadClasses) {
    EXPECT_EQ(labelMap, "helmet,head");
}

TEST_F(StagedAssets, VideoIsFullHdAtTwentyFiveFramesPerSecond) {
    EXPECT_EQ(video.get(cv::CAP_PROP_FRAME_WIDTH), 1920);
    EXPECT_EQ(video.get(cv::CAP_PROP_FRAME_HEIGHT), 1080);
    EXPECT_EQ(video.get(cv::CAP_PROP_FPS), 25);
    EXPECT_GE(video.get(cv::CAP_PROP_FRAME_COUNT), 300);
}

TEST_F(StagedAssets, FirstFramesHoldHelmets) {
    std::set<int> classesSeen;
    for (int index = 0; index < 5; ++index) {
        cv::Mat frame;
        ASSERT_TRUE(video.read(frame));
        const auto results = detector.RunInference(frame, "staged");
        EXPECT_FALSE(results.empty()) << "frame " << index;
        for (const auto& obj : results) {
            classesSeen.insert(obj.classId);
        }
    }
    EXPECT_EQ(classesSeen.count(0), 1u) << "no helmet in the first frames";
}

TEST_F(StagedAssets, SolidGreyFramesHoldNothing) {
    for (int grey = 0; grey <= 255; ++grey) {
        EXPECT_TRUE(detector.RunInference(cv::Mat(1080, 1920, CV_8UC3, cv::Scalar::all(grey))).empty()) << grey;
    }
}
