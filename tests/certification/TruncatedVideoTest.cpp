// The certification program on a video that decodes fewer frames than its
// header or its ground truth say: the tests whose figures count the video's
// frames fail and say why, instead of passing on the frames that decoded.
#include "ToolProcess.h"
#include "TruncatedVideo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kModel = std::string(zor::test::paths::kTestModels) + "/v5_basic";
const std::string kAccuracy = "CertifiedAccuracy.VideoMeetsTheAp50Floors";
const std::string kLatency = "CertifiedResources.P99LatencyOverVideoFramesStaysUnderBudget";

zor::test::ToolRun certify(const fs::path& video, const fs::path& labels, const std::string& filter,
                           const fs::path& scratch) {
    return zor::test::runTool(
        {"--model", kModel, "--video", video.string(), "--video-labels", labels.string(), "--gtest_filter=" + filter},
        scratch);
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

TEST(CertificationVideo, ShorterThanItsHeaderOrItsLabelsFailsTheTestsThatCountItsFrames) {
    zor::test::ScratchFolder scratch;
    const fs::path labels = scratch.path() / "gt.txt";
    zor::test::writeFile(labels, "0 0 20 20 10 10\n5 1 20 20 10 10\n");

    const fs::path cut = scratch.path() / "cut.avi";
    ASSERT_TRUE(zor::test::writeTruncatedVideo(cut, 40, {160, 120}));
    const zor::test::ToolRun truncated = certify(cut, labels, kAccuracy + ":" + kLatency, scratch.path());
    EXPECT_EQ(truncated.status, 1) << truncated.out << truncated.err;
    EXPECT_EQ(count(truncated.out, "[  FAILED  ] " + kAccuracy), 2u) << truncated.out;
    EXPECT_EQ(count(truncated.out, "[  FAILED  ] " + kLatency), 2u) << truncated.out;
    EXPECT_EQ(count(truncated.out, "where its header says 40 (cut short or damaged)"), 2u) << truncated.out;

    // Whole, but shorter than its ground truth: the frames labelled later were never scored.
    const fs::path clip = scratch.path() / "clip.avi";
    {
        cv::VideoWriter writer(clip.string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10.0, {64, 64});
        ASSERT_TRUE(writer.isOpened());
        for (int i = 0; i < 3; ++i) {
            writer.write(cv::Mat(64, 64, CV_8UC3, cv::Scalar(90, 90, 90)));
        }
    }
    const zor::test::ToolRun unlabelled = certify(clip, labels, kAccuracy, scratch.path());
    EXPECT_EQ(unlabelled.status, 1) << unlabelled.out << unlabelled.err;
    EXPECT_NE(unlabelled.out.find("labels frame 5 but the video decodes only 3 frames"), std::string::npos)
        << unlabelled.out;
}

}  // namespace
