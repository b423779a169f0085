#include "ToolProcess.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace zor::test {
namespace {

const std::string kModelName = R"(C:\Programs\DemoAssets\ModelsForTELMAR\ZOR_Helmet(GPU)_v1.0)";
const std::string kVideoName = R"(C:\Programs\DemoAssets\Videos\Helmet\HM2.mp4)";
constexpr int kFrames = 12;

// Frames that differ from each other, so that an encoder has work to do.
bool writeVideo(const fs::path& path, int api, const std::vector<int>& fourccs) {
    for (const int fourcc : fourccs) {
        cv::VideoWriter writer(path.string(), api, fourcc, 10.0, cv::Size(160, 120));
        if (!writer.isOpened()) {
            continue;
        }
        for (int i = 0; i < kFrames; ++i) {
            cv::Mat frame(120, 160, CV_8UC3, cv::Scalar(20 * i, 100, 200 - 10 * i));
            frame(cv::Rect(5 * i, 30, 40, 40)).setTo(cv::Scalar(255, 255, 255));
            writer.write(frame);
        }
        return true;
    }
    return false;
}

// Frames of the staged video, opened as the contract program opens it: by
// its name relative to the working folder, with any back end.
int framesUnderStagedName(const fs::path& folder) {
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    cv::VideoCapture capture(kVideoName, cv::CAP_ANY);
    int frames = 0;
    cv::Mat frame;
    while (capture.isOpened() && capture.read(frame) && !frame.empty()) {
        ++frames;
    }
    fs::current_path(previous);
    return frames;
}

class HelmetStage : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(model_);
        writeFile(model_ / "model.yml", "any library's model files\n");
        if (!writeVideo(mp4_, cv::CAP_FFMPEG,
                        {cv::VideoWriter::fourcc('a', 'v', 'c', '1'), cv::VideoWriter::fourcc('m', 'p', '4', 'v')})) {
            GTEST_SKIP() << "this OpenCV writes no MP4";
        }
        ASSERT_TRUE(writeVideo(avi_, cv::CAP_OPENCV_MJPEG, {cv::VideoWriter::fourcc('M', 'J', 'P', 'G')}));
    }

    ScratchFolder scratch_;
    fs::path model_ = scratch_.path() / "model";
    fs::path mp4_ = scratch_.path() / "ordinary.mp4";
    fs::path avi_ = scratch_.path() / "motion-jpeg.avi";
    fs::path staged_ = scratch_.path() / "staged";
};

TEST_F(HelmetStage, AnMp4IsReencodedIntoAVideoReadableUnderTheStagedName) {
    const ToolRun run =
        runTool({"--model", model_.string(), "--video", mp4_.string(), "--into", staged_.string()}, scratch_.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("re-encoded"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(staged_ / kVideoName)));
    EXPECT_EQ(framesUnderStagedName(staged_), kFrames);
    EXPECT_EQ(fs::read_symlink(staged_ / kModelName), fs::canonical(model_));
    EXPECT_EQ(std::distance(fs::directory_iterator(staged_), fs::directory_iterator()), 2) << "a leftover file";

    // The MP4 copied to the staged name and staged from there: read whole before it is replaced.
    fs::copy_file(mp4_, staged_ / kVideoName, fs::copy_options::overwrite_existing);
    const ToolRun again =
        runTool({"--model", model_.string(), "--video", (staged_ / kVideoName).string(), "--into", staged_.string()},
                scratch_.path());
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(framesUnderStagedName(staged_), kFrames);
}

TEST_F(HelmetStage, AMotionJpegAviIsLinkedAsItIsInPlaceOfAnEarlierStaging) {
    ASSERT_EQ(
        runTool({"--model", model_.string(), "--video", mp4_.string(), "--into", staged_.string()}, scratch_.path())
            .status,
        0);
    const ToolRun run =
        runTool({"--model", model_.string(), "--video", avi_.string(), "--into", staged_.string()}, scratch_.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find("re-encoded"), std::string::npos) << run.out;
    EXPECT_EQ(fs::read_symlink(staged_ / kVideoName), fs::canonical(avi_));
    EXPECT_EQ(framesUnderStagedName(staged_), kFrames);
}

TEST_F(HelmetStage, DefaultsToThePackagesModelAndTestVideoFoundBesideTheProgram) {
    const ToolRun run = runTool({"--into", staged_.string()}, scratch_.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(fs::canonical(staged_ / kModelName), fs::canonical(paths::kShippedModel));
    EXPECT_EQ(fs::canonical(staged_ / kVideoName), fs::canonical(paths::kStagedVideo));
}

TEST_F(HelmetStage, UserErrorsExitTwoWithOneLineAndStageNothing) {
    const fs::path text = scratch_.path() / "notes.txt";
    writeFile(text, "not a video\n");
    fs::create_directories(scratch_.path() / "occupied" / kModelName);
    const std::string model = model_.string();
    const std::string avi = avi_.string();
    const std::string into = staged_.string();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--model", model + "-missing", "--video", avi, "--into", into}, "model folder not found"},
        {{"--model", text.string(), "--video", avi, "--into", into}, "not a folder"},
        {{"--model", model, "--video", avi + "-missing", "--into", into}, "video not found"},
        {{"--model", model, "--video", text.string(), "--into", into}, "cannot read the video"},
        {{"--model", model, "--video", avi, "--into", text.string()}, text.string()},
        {{"--model", model, "--video", avi, "--into", (scratch_.path() / "occupied").string()}, "is a folder"},
        {{"--model", model, "--vidoe", avi, "--into", into}, "unknown option"},
    };
    for (const auto& [arguments, reason] : cases) {
        const ToolRun run = runTool(arguments, scratch_.path());
        EXPECT_EQ(run.status, 2) << reason;
        EXPECT_EQ(lines(run.err).size(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("helmet-stage: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(fs::symlink_status(staged_ / kModelName))) << reason << ": staged before the error";
    }
}

}  // namespace
}  // namespace zor::test
