// helmet-detect as a user runs it: its outputs compared with what the detector
// itself returns on the same frames, and its answer to user errors. Uses the
// known-output model v5_basic (tests/detector/models/README.md), which gives
// the same detections for any picture of a given size.
#include "ToolProcess.h"
#include "TruncatedVideo.h"

#include "ZORCustomHMD.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <set>

namespace {

namespace fs = std::filesystem;
using zor::test::Json;
using zor::test::runTool;

const std::set<std::string> kVideoOutputs{"annotated.mp4", "contact-sheet.png", "detections.jsonl"};

fs::path testModel() {
    return fs::path(zor::test::paths::kTestModels) / "v5_basic";
}

std::set<std::string> filesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// A grey picture with a bright square that moves with `seed`.
cv::Mat picture(cv::Size size, int seed) {
    cv::Mat image(size, CV_8UC3, cv::Scalar(128, 128, 128));
    cv::rectangle(image, cv::Rect(10 + 13 * seed % (size.width / 2), size.height / 3, 40, 40),
                  cv::Scalar(250, 250, 250), cv::FILLED);
    return image;
}

void writeVideo(const fs::path& path, int frames, double fps) {
    cv::VideoWriter writer(path.string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, {640, 480});
    ASSERT_TRUE(writer.isOpened());
    for (int i = 0; i < frames; ++i) {
        writer.write(picture({640, 480}, i));
    }
}

std::vector<cv::Mat> readVideo(const fs::path& path, int limit) {
    cv::VideoCapture capture(path.string(), cv::CAP_FFMPEG);
    std::vector<cv::Mat> frames;
    for (cv::Mat frame; static_cast<int>(frames.size()) < limit && capture.read(frame);) {
        frames.push_back(frame.clone());
    }
    return frames;
}

// What the detector returns for each frame when used directly, set up as the
// command sets it up.
std::vector<std::vector<CustomObject>> detectDirectly(const std::vector<cv::Mat>& frames, float threshold,
                                                      const fs::path& model = testModel()) {
    ZORCustomHMD detector;
    std::string labels;
    EXPECT_TRUE(detector.Initialize(model.string(), threshold, labels));
    detector.OptimizeModel(true);
    std::vector<std::vector<CustomObject>> results;
    for (const cv::Mat& frame : frames) {
        results.push_back(detector.RunInference(frame, "direct"));
    }
    detector.Destroy();
    return results;
}

std::vector<Json> readRecords(const fs::path& path) {
    std::vector<Json> records;
    for (const std::string& line : zor::test::lines(zor::test::readFile(path))) {
        records.push_back(zor::test::JsonReader::parse(line));
    }
    return records;
}

void expectSameDetections(const Json& record, const std::vector<CustomObject>& expected) {
    const std::vector<Json>& detections = record["detections"].items;
    ASSERT_EQ(detections.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("detection " + std::to_string(i));
        EXPECT_EQ(detections[i]["class"].text, expected[i].className);
        EXPECT_EQ(detections[i]["classId"].asLong(), expected[i].classId);
        EXPECT_EQ(detections[i]["confidence"].asFloat(), expected[i].confidence);
        const std::vector<Json>& box = detections[i]["box"].items;
        ASSERT_EQ(box.size(), 4u);
        EXPECT_EQ(cv::Rect(static_cast<int>(box[0].asLong()), static_cast<int>(box[1].asLong()),
                           static_cast<int>(box[2].asLong()), static_cast<int>(box[3].asLong())),
                  expected[i].box);
    }
}

std::vector<cv::Rect> boxesOf(const std::vector<CustomObject>& objects) {
    std::vector<cv::Rect> boxes;
    for (const CustomObject& object : objects) {
        boxes.push_back(object.box);
    }
    return boxes;
}

class HelmetDetectTool : public testing::Test {
protected:
    zor::test::ScratchFolder scratch;
};

TEST_F(HelmetDetectTool, VideoRunMatchesTheDetectorFrameByFrame) {
    const fs::path video = scratch.path() / "site.avi";
    const fs::path out = scratch.path() / "out";
    writeVideo(video, 6, 10.0);
    const zor::test::ToolRun run =
        runTool({video.string(), "--model", testModel().string(), "--frames=4", "--out", out.string()}, scratch.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << "no progress line when standard error is not a terminal";
    EXPECT_EQ(filesIn(out), kVideoOutputs);

    const std::vector<cv::Mat> frames = readVideo(video, 4);
    ASSERT_EQ(frames.size(), 4u);
    const auto expected = detectDirectly(frames, 0.6f);
    ASSERT_FALSE(expected[0].empty()) << "the test model should detect something";
    const double fps = cv::VideoCapture(video.string(), cv::CAP_FFMPEG).get(cv::CAP_PROP_FPS);
    const std::vector<Json> records = readRecords(out / "detections.jsonl");
    ASSERT_EQ(records.size(), 4u) << "--frames limits the run";
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(records[i]["frame"].asLong(), static_cast<long>(i));
        EXPECT_DOUBLE_EQ(records[i]["time"].asDouble(), static_cast<double>(i) / fps);
        EXPECT_FALSE(records[i].has("image"));
        expectSameDetections(records[i], expected[i]);
    }

    cv::VideoCapture annotated((out / "annotated.mp4").string(), cv::CAP_FFMPEG);
    ASSERT_TRUE(annotated.isOpened());
    int annotatedFrames = 0;
    for (cv::Mat frame; annotated.read(frame); ++annotatedFrames) {
        EXPECT_EQ(frame.size(), cv::Size(640, 480));
    }
    EXPECT_EQ(annotatedFrames, 4);

    const cv::Mat sheet = cv::imread((out / "contact-sheet.png").string());
    ASSERT_FALSE(sheet.empty());
    EXPECT_GE(sheet.cols, 4 * 200) << "four tiles side by side";
    EXPECT_LE(sheet.cols, 4000);
    EXPECT_GE(sheet.rows, 200);
    EXPECT_LE(sheet.rows, sheet.cols);
}

// Images of different shapes give different boxes, so records that follow
// the wrong image would not match.
TEST_F(HelmetDetectTool, ImageFolderRunFollowsNameOrderAndMarksEachImage) {
    const fs::path input = scratch.path() / "images";
    const fs::path out = scratch.path() / "out";
    fs::create_directories(input);
    const std::vector<std::pair<std::string, cv::Size>> images{
        {"a.jpg", {640, 480}}, {"b.png", {300, 500}}, {"c.bmp", {1000, 400}}};
    for (auto it = images.rbegin(); it != images.rend(); ++it) {
        ASSERT_TRUE(cv::imwrite((input / it->first).string(), picture(it->second, 3)));
    }
    zor::test::writeFile(input / "notes.txt", "not an image");

    const zor::test::ToolRun run = runTool(
        {"--input", input.string(), "--model", testModel().string(), "--out", out.string(), "--camera", "gate 3"},
        scratch.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(filesIn(out), (std::set<std::string>{"annotated-a.png", "annotated-b.png", "annotated-c.png",
                                                   "contact-sheet.png", "detections.jsonl"}));

    std::vector<cv::Mat> inputs;
    for (const auto& [name, size] : images) {
        inputs.push_back(cv::imread((input / name).string()));
    }
    const auto expected = detectDirectly(inputs, 0.6f);
    ASSERT_NE(boxesOf(expected[0]), boxesOf(expected[1]));
    ASSERT_NE(boxesOf(expected[0]), boxesOf(expected[2]));
    const std::vector<Json> records = readRecords(out / "detections.jsonl");
    ASSERT_EQ(records.size(), images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        SCOPED_TRACE(images[i].first);
        EXPECT_EQ(records[i]["frame"].asLong(), static_cast<long>(i));
        EXPECT_EQ(records[i]["time"].asDouble(), 0.0);
        EXPECT_EQ(records[i]["image"].text, images[i].first);
        expectSameDetections(records[i], expected[i]);

        // The boxes are drawn where the detector found them, and the rest of
        // the picture is left alone.
        const cv::Mat annotated =
            cv::imread((out / ("annotated-" + fs::path(images[i].first).stem().string() + ".png")).string());
        ASSERT_EQ(annotated.size(), inputs[i].size());
        for (const CustomObject& object : expected[i]) {
            const cv::Point edge(object.box.x, object.box.y + object.box.height / 2);
            EXPECT_NE(annotated.at<cv::Vec3b>(edge), inputs[i].at<cv::Vec3b>(edge)) << "left edge of " << object.box;
        }
        cv::Mat changed;
        cv::cvtColor(cv::abs(annotated - inputs[i]) + cv::abs(inputs[i] - annotated), changed, cv::COLOR_BGR2GRAY);
        EXPECT_LT(cv::countNonZero(changed), static_cast<int>(annotated.total() / 4));
        EXPECT_GT(cv::countNonZero(changed), 0);
    }
}

TEST_F(HelmetDetectTool, SingleImageRunUsesTheGivenThreshold) {
    const fs::path image = scratch.path() / "gate.jpg";
    const fs::path out = scratch.path() / "out";
    ASSERT_TRUE(cv::imwrite(image.string(), picture({800, 600}, 1)));
    const std::vector<cv::Mat> frame{cv::imread(image.string())};
    const auto atDefault = detectDirectly(frame, 0.6f);
    const auto atHigher = detectDirectly(frame, 0.8f);
    ASSERT_NE(atDefault[0].size(), atHigher[0].size()) << "the two thresholds should differ on the test model";

    const zor::test::ToolRun run = runTool(
        {image.string(), "--threshold", "0.8", "--model", testModel().string(), "--out", out.string()}, scratch.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(filesIn(out), (std::set<std::string>{"annotated-gate.png", "contact-sheet.png", "detections.jsonl"}));
    const std::vector<Json> records = readRecords(out / "detections.jsonl");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["image"].text, "gate.jpg");
    expectSameDetections(records[0], atHigher[0]);
    EXPECT_FALSE(cv::imread((out / "contact-sheet.png").string()).empty());
}

// Every mistake a user can make: one line on standard error, exit status 2,
// and no output under a final name (nor a temporary one left behind).
TEST_F(HelmetDetectTool, UserErrorsExitWith2AndLeaveNothingBehind) {
    const fs::path base = scratch.path();
    const std::string model = testModel().string();
    const fs::path video = base / "site.avi";
    writeVideo(video, 2, 10.0);
    zor::test::writeFile(base / "notes.avi", "this is not a video");
    zor::test::writeFile(base / "notes.mp4", "this is not a video");  // FFmpeg logs about it
    zor::test::writeFile(base / "broken.png", "this is not a picture");
    zor::test::writeFile(base / "a-file", "in the way");
    fs::create_directories(base / "no-model");
    fs::copy_file(testModel() / "model.yml", base / "no-model" / "model.yml");
    fs::create_directories(base / "mixed");
    ASSERT_TRUE(cv::imwrite((base / "mixed" / "a.png").string(), picture({320, 240}, 0)));
    zor::test::writeFile(base / "mixed" / "b.png", "this is not a picture");
    fs::create_directories(base / "empty");
    ASSERT_EQ(mkfifo((base / "fifo.mp4").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((base / "fifo.png").c_str(), 0600), 0);

    const fs::path out = base / "out";
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases{
        {"model folder missing", {video.string(), "--model", (base / "nowhere").string()}},
        {"model folder without ONNX", {video.string(), "--model", (base / "no-model").string()}},
        {"input missing", {(base / "nowhere.mp4").string(), "--model", model}},
        {"not a video", {(base / "notes.avi").string(), "--model", model}},
        {"not an MP4", {(base / "notes.mp4").string(), "--model", model}},
        {"not an image", {(base / "broken.png").string(), "--model", model}},
        {"unreadable image after a good one", {(base / "mixed").string(), "--model", model}},
        {"folder without images", {(base / "empty").string(), "--model", model}},
        {"a FIFO as video", {(base / "fifo.mp4").string(), "--model", model}},
        {"a FIFO as image", {(base / "fifo.png").string(), "--model", model}},
        {"a device", {"/dev/zero", "--model", model}},
        {"no input", {"--model", model}},
        {"two inputs", {video.string(), video.string(), "--model", model}},
        {"threshold above 1", {video.string(), "--model", model, "--threshold", "1.5"}},
        {"threshold not a number", {video.string(), "--model", model, "--threshold=high"}},
        {"negative frame limit", {video.string(), "--model", model, "--frames", "-2"}},
        {"frame limit with junk", {video.string(), "--model", model, "--frames", "3x"}},
        {"unknown option", {video.string(), "--model", model, "--fast"}},
        {"option without value", {video.string(), "--model"}},
    };
    for (const auto& [what, arguments] : cases) {
        SCOPED_TRACE(what);
        std::vector<std::string> withOut = arguments;
        withOut.insert(withOut.end(), {"--out", out.string()});
        const zor::test::ToolRun run = runTool(withOut, base, std::chrono::seconds(120));
        EXPECT_FALSE(run.killed) << "hangs";
        EXPECT_EQ(run.status, 2) << run.err;
        const std::vector<std::string> errLines = zor::test::lines(run.err);
        ASSERT_EQ(errLines.size(), 1u) << run.err;
        EXPECT_EQ(errLines[0].rfind("helmet-detect: ", 0), 0u) << errLines[0];
        EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out)) << "left behind in the output folder";
        fs::remove_all(out);
    }

    for (const fs::path& blocked : {base / "a-file", base / "a-file" / "below"}) {
        SCOPED_TRACE("output folder " + blocked.string());
        const zor::test::ToolRun run = runTool({video.string(), "--model", model, "--out", blocked.string()}, base);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(zor::test::lines(run.err).size(), 1u) << run.err;
        EXPECT_EQ(zor::test::readFile(base / "a-file"), "in the way");
    }

    const fs::path good = base / "good";
    fs::create_directories(good);
    ASSERT_TRUE(cv::imwrite((good / "a.png").string(), picture({320, 240}, 0)));
    const zor::test::ToolRun sameFolder = runTool({good.string(), "--model", model, "--out", good.string()}, base);
    EXPECT_EQ(sameFolder.status, 2) << sameFolder.err;
    EXPECT_EQ(zor::test::lines(sameFolder.err).size(), 1u) << sameFolder.err;
    EXPECT_EQ(filesIn(good), std::set<std::string>{"a.png"}) << "output folder is the input folder";
}

TEST_F(HelmetDetectTool, VideoCutShortIsAWarningAfterItsFrames) {
    const fs::path video = scratch.path() / "cut.avi";
    ASSERT_TRUE(zor::test::writeTruncatedVideo(video, 40, {160, 120}));
    const fs::path out = scratch.path() / "out";
    const zor::test::ToolRun run =
        runTool({video.string(), "--model", testModel().string(), "--out", out.string()}, scratch.path());
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> errLines = zor::test::lines(run.err);
    ASSERT_EQ(errLines.size(), 1u) << run.err;  // and no decoder's own lines
    EXPECT_EQ(errLines[0].rfind("helmet-detect: warning: the video " + video.string() + " decodes ", 0), 0u)
        << errLines[0];
    EXPECT_NE(errLines[0].find("where its header says 40"), std::string::npos) << errLines[0];
    EXPECT_EQ(filesIn(out), kVideoOutputs);
    // With a frame limit inside what decodes, nothing is missing.
    const zor::test::ToolRun limited =
        runTool({video.string(), "--model", testModel().string(), "--frames=2", "--out", out.string()}, scratch.path());
    EXPECT_EQ(limited.status, 0) << limited.err;
    EXPECT_EQ(limited.err, "");
}

TEST_F(HelmetDetectTool, DefaultModelIsTheShippedOne) {
    const fs::path image = scratch.path() / "gate.png";
    ASSERT_TRUE(cv::imwrite(image.string(), picture({320, 240}, 2)));
    const zor::test::ToolRun run =
        runTool({image.string(), "--out", (scratch.path() / "out").string()}, scratch.path());
    if (fs::exists(fs::path(zor::test::paths::kShippedModel) / "model.yml")) {
        EXPECT_EQ(run.status, 0) << run.err;
    } else {
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(zor::test::paths::kShippedModel), std::string::npos) << run.err;
    }
}

}  // namespace

// The staged test video with the shipped model: what people will look at.
TEST_F(HelmetDetectTool, StagedVideoRunMatchesTheShippedDetector) {
    const fs::path video = zor::test::paths::kStagedVideo;
    const fs::path out = scratch.path() / "out";
    const zor::test::ToolRun run = runTool({video.string(), "--frames=3", "--out", out.string()}, scratch.path());
    ASSERT_EQ(run.status, 0) << run.err;

    const std::vector<cv::Mat> frames = readVideo(video, 3);
    ASSERT_EQ(frames.size(), 3u);
    const auto expected = detectDirectly(frames, 0.6f, zor::test::paths::kShippedModel);
    const std::vector<Json> records = readRecords(out / "detections.jsonl");
    ASSERT_EQ(records.size(), 3u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_FALSE(expected[i].empty()) << "helmets are visible from the first frame";
        expectSameDetections(records[i], expected[i]);
    }
}
