// helmet-eval as a user runs it, on the known-output model v5_basic
// (tests/detector/models/README.md). On any 64x64 picture it returns, per-class
// NMS at 0.45 having dropped r1 and the 0.05 threshold r5:
//   helmet 0.855 (52,52,12,12)  [r4, clipped to the frame]
//   helmet 0.81  (15,15,10,10)  [r0]
//   head   0.72  (15,15,10,10)  [r2]
//   helmet 0.25  (38,32,12,16)  [r3]
// so the expected figures follow from the labels alone.
#include "ToolProcess.h"
#include "TruncatedVideo.h"

#include "EvalOptions.h"
#include "GrayscaleFrame.h"
#include "MediaInput.h"
#include "ToolExit.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

namespace {

namespace fs = std::filesystem;
using zor::test::Json;
using zor::test::runTool;

const std::string kModel = std::string(zor::test::paths::kTestModels) + "/v5_basic";
// A hostile input is refused at once; only a hang comes near this.
constexpr std::chrono::seconds kHostileLimit{120};
const fs::path kRealSample = fs::path(zor::test::paths::kSource) / "tests" / "assets" / "hard-hat-sample";

class HelmetEvalTool : public testing::Test {
protected:
    zor::test::ScratchFolder scratch;

    // a: helmets on r4 and r0, a head on r2 and an unmapped class 2;
    // b: a helmet on r3 as a polygon; c: no label file.
    fs::path makeFolder() {
        const fs::path root = scratch.path() / "set";
        fs::create_directories(root / "images");
        fs::create_directories(root / "labels");
        const cv::Mat grey(64, 64, CV_8UC3, cv::Scalar(120, 120, 120));
        for (const char* name : {"b.png", "a.png", "c.png"}) {
            EXPECT_TRUE(cv::imwrite((root / "images" / name).string(), grey));
        }
        zor::test::writeFile(root / "labels" / "a.txt",
                             "0 0.90625 0.90625 0.1875 0.1875\n1 0.3125 0.3125 0.15625 0.15625\n"
                             "0 0.3125 0.3125 0.15625 0.15625\n2 0.5 0.5 0.2 0.2\n");
        zor::test::writeFile(root / "labels" / "b.txt", "0 0.59375 0.5 0.78125 0.5 0.78125 0.75 0.59375 0.75\n");
        return root;
    }

    Json runJson(std::vector<std::string> arguments, const std::string& model = kModel) {
        const fs::path json = scratch.path() / "out.json";
        arguments.insert(arguments.end(), {"--model", model, "--json", json.string()});
        const zor::test::ToolRun run = runTool(arguments, scratch.path());
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "") << "no progress when standard error is not a terminal";
        last = run;
        return zor::test::JsonReader::parse(zor::test::readFile(json));
    }

    zor::test::ToolRun last;
};

const Json& byName(const Json& report, const std::string& name) {
    for (const Json& entry : report["classes"].items) {
        if (entry["name"].text == name) {
            return entry;
        }
    }
    throw std::runtime_error("no class " + name);
}

TEST_F(HelmetEvalTool, ScoresAnImageFolder) {
    const fs::path root = makeFolder();
    const Json report = runJson({"--images", root.string()});
    EXPECT_EQ(report["frames"].asLong(), 3);
    EXPECT_EQ(report["detectThreshold"].asFloat(), 0.05f);
    ASSERT_EQ(report["classes"].items.size(), 2u);
    EXPECT_EQ(report["classes"].items[0]["name"].text, "helmet") << "label-map order";

    // Helmet, 3 truths, ranked (ties in image order a, b, c):
    // 0.855 T F F, 0.81 T F F, 0.25 F T F -> monotone precision 1 to recall 1/3,
    // 1/2 to 2/3 (rank 4), 3/8 to 1 (rank 8): (34 + 33/2 + 34 * 3/8) / 101.
    const Json& helmet = byName(report, "helmet");
    EXPECT_EQ(helmet["groundTruth"].asLong(), 3);
    EXPECT_EQ(helmet["detections"].asLong(), 9);
    EXPECT_EQ(helmet["detectionsAtThreshold"].asLong(), 6);
    EXPECT_NEAR(helmet["ap50"].asDouble(), 63.25 / 101.0, 1e-12);
    EXPECT_NEAR(helmet["ap50to95"].asDouble(), 63.25 / 101.0, 1e-12) << "every match has IoU 1";
    EXPECT_EQ(helmet["truePositives"].asLong(), 2);
    EXPECT_EQ(helmet["falsePositives"].asLong(), 4);
    EXPECT_EQ(helmet["falseNegatives"].asLong(), 1);
    EXPECT_NEAR(helmet["precision"].asDouble(), 1.0 / 3.0, 1e-12);
    EXPECT_NEAR(helmet["recall"].asDouble(), 2.0 / 3.0, 1e-12);
    EXPECT_NEAR(helmet["f1"].asDouble(), 4.0 / 9.0, 1e-12);
    // Head, 1 truth in a: ranked T F F -> AP 1.
    const Json& head = byName(report, "head");
    EXPECT_EQ(head["groundTruth"].asLong(), 1);
    EXPECT_EQ(head["ap50"].asDouble(), 1.0);
    EXPECT_NEAR(head["precision"].asDouble(), 1.0 / 3.0, 1e-12);
    EXPECT_NEAR(report["meanAp50"].asDouble(), (63.25 / 101.0 + 1.0) / 2.0, 1e-12);

    EXPECT_NE(last.out.find("images      3"), std::string::npos) << last.out;
    EXPECT_NE(last.out.find("0.626"), std::string::npos) << last.out;
}

TEST_F(HelmetEvalTool, ExcludedImagesAndUnmappedClassesAreNotScored) {
    const fs::path root = makeFolder();
    zor::test::writeFile(scratch.path() / "dups.txt", "train/images/c.png\n");
    // Only helmets count: a's head label is ignored, so head has no truth.
    const Json report = runJson({"--images=" + root.string(), "--exclude", (scratch.path() / "dups.txt").string(),
                                 "--classes", "0:helmet", "--curves", (scratch.path() / "pr").string()});
    EXPECT_EQ(report["frames"].asLong(), 2);
    EXPECT_EQ(report["excluded"].asLong(), 1);
    // Helmet ranked T F T F F T: monotone 1, 2/3 from recall 1/3, 1/2 from
    // 2/3: (34 + 33 * 2/3 + 34 / 2) / 101 = 73 / 101.
    EXPECT_NEAR(byName(report, "helmet")["ap50"].asDouble(), 73.0 / 101.0, 1e-12);
    const Json& head = byName(report, "head");
    EXPECT_EQ(head["groundTruth"].asLong(), 0);
    EXPECT_EQ(head["ap50"].kind, Json::Kind::Null);
    EXPECT_EQ(head["recall"].kind, Json::Kind::Null);
    EXPECT_EQ(head["precision"].asDouble(), 0.0);
    EXPECT_NEAR(report["meanAp50"].asDouble(), 73.0 / 101.0, 1e-12) << "over classes with ground truth";
    EXPECT_NE(last.out.find("head: no ground truth"), std::string::npos) << last.out;

    for (const char* name : {"pr-helmet.png", "pr-head.png"}) {
        const cv::Mat curve = cv::imread((scratch.path() / "pr" / name).string());
        EXPECT_FALSE(curve.empty()) << name;
    }
}

TEST_F(HelmetEvalTool, CountsFalseHelmetsOnImagesWithoutHelmetsAndSplitsTruthsBySize) {
    const fs::path root = makeFolder();
    EXPECT_TRUE(cv::imwrite((root / "images" / "d.png").string(), cv::Mat(64, 64, CV_8UC3, cv::Scalar(1, 2, 3))));
    zor::test::writeFile(root / "labels" / "d.txt", "");
    const Json report = runJson({"--images", root.string(), "--min-height", "12"});
    // c (no label file) and d (empty one) hold no helmet; each gets the
    // helmets at 0.855 and 0.81.
    const Json& helmet = byName(report, "helmet");
    EXPECT_EQ(helmet["imagesWithoutGroundTruth"].asLong(), 2);
    EXPECT_EQ(helmet["falsePositivesWithoutGroundTruth"].asLong(), 4);
    EXPECT_EQ(helmet["falsePositivesPerImageWithoutGroundTruth"].asDouble(), 2.0);
    EXPECT_EQ(report["imagesWithoutHelmet"].asLong(), 2);
    EXPECT_EQ(report["falseHelmetsPerImageWithoutHelmet"].asDouble(), 2.0);
    EXPECT_NE(last.out.find("false helmets per image without hard hats: 2.000 (4 at >= 0.6 on 2 images"),
              std::string::npos)
        << last.out;
    // Every truth is under 32x32: all small, the other sizes undefined.
    EXPECT_EQ(helmet["groundTruthSmall"].asLong(), 3);
    EXPECT_EQ(helmet["ap50Large"].kind, Json::Kind::Null);
    // At least 12 px tall: r4's box (12) and r3's polygon (16), which only
    // the 0.25 detection finds.
    EXPECT_EQ(report["minHeight"].asDouble(), 12.0);
    EXPECT_EQ(helmet["groundTruthMinHeight"].asLong(), 2);
    EXPECT_EQ(helmet["recallMinHeight"].asDouble(), 0.5);
}

// The shipped model, whose answers depend on the pixels: --grayscale must give
// the detector what it gets from the same images stored in gray.
TEST_F(HelmetEvalTool, GrayscaleScoresWhatGrayImagesScore) {
    const std::string frames = "8";
    const fs::path grayed = scratch.path() / "gray";
    fs::create_directories(grayed / "images");
    fs::copy(kRealSample / "labels", grayed / "labels");
    const std::vector<fs::path> files = zor::tools::listImages(kRealSample / "images");
    ASSERT_GE(files.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        const cv::Mat gray = zor::eval::grayscaleFrame(cv::imread(files[i].string()));
        ASSERT_EQ(gray.type(), CV_8UC3);
        std::vector<cv::Mat> channels;
        cv::split(gray, channels);
        EXPECT_EQ(cv::norm(channels[0], channels[1], cv::NORM_INF) + cv::norm(channels[1], channels[2], cv::NORM_INF),
                  0.0);
        ASSERT_TRUE(cv::imwrite((grayed / "images" / (files[i].stem().string() + ".png")).string(), gray));
    }
    const std::string model = zor::test::paths::kShippedModel;
    const std::vector<std::string> sample{"--images",        kRealSample.string(), "--classes",
                                          "1:helmet,0:head", "--frames",           frames};
    std::vector<std::string> turned = sample;
    turned.push_back("--grayscale");
    const Json viaOption = runJson(turned, model);
    EXPECT_EQ(viaOption["grayscale"].text, "true");
    EXPECT_NE(last.out.find("  grayscale   yes"), std::string::npos) << last.out;
    const Json stored = runJson({"--images", grayed.string(), "--classes", "1:helmet,0:head"}, model);
    const Json inColour = runJson(sample, model);
    bool colourDiffers = false;
    for (const char* name : {"helmet", "head"}) {
        for (const char* key : {"detections", "detectionsAtThreshold", "truePositives", "ap50", "ap50to95"}) {
            EXPECT_EQ(byName(viaOption, name)[key].text, byName(stored, name)[key].text) << name << " " << key;
            colourDiffers = colourDiffers || byName(viaOption, name)[key].text != byName(inColour, name)[key].text;
        }
    }
    EXPECT_TRUE(colourDiffers) << "the colour run scores the same as the gray one";
}

TEST_F(HelmetEvalTool, ScoresALabelledVideo) {
    const fs::path video = scratch.path() / "clip.avi";
    {
        cv::VideoWriter writer(video.string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10.0, {64, 64});
        ASSERT_TRUE(writer.isOpened());
        for (int i = 0; i < 3; ++i) {
            writer.write(cv::Mat(64, 64, CV_8UC3, cv::Scalar(90, 90, 90)));
        }
    }
    // Frame 0 a helmet on r0, frame 1 a head on r2; frame 2 is beyond --frames.
    zor::test::writeFile(scratch.path() / "gt.txt",
                         "# frame class cx cy w h\n0 0 20 20 10 10\n1 1 20 20 10 10\n"
                         "2 0 58 58 12 12\n");
    const Json report =
        runJson({"--video", video.string(), "--labels", (scratch.path() / "gt.txt").string(), "--frames", "2"});
    EXPECT_EQ(report["frames"].asLong(), 2);
    EXPECT_EQ(report["input"].text, "video");
    // Helmet: 0.855 F F, 0.81 T -> precision 1/3 at recall 1. Head: F T -> 1/2.
    EXPECT_NEAR(byName(report, "helmet")["ap50"].asDouble(), 1.0 / 3.0, 1e-12);
    EXPECT_EQ(byName(report, "helmet")["groundTruth"].asLong(), 1);
    EXPECT_NEAR(byName(report, "head")["ap50"].asDouble(), 0.5, 1e-12);
}

// Figures over the frames that decoded would pass for the whole video's.
TEST_F(HelmetEvalTool, VideoShorterThanItsHeaderOrItsLabelsIsAUserError) {
    const fs::path cut = scratch.path() / "cut.avi";
    ASSERT_TRUE(zor::test::writeTruncatedVideo(cut, 40, {160, 120}));
    const fs::path clip = scratch.path() / "clip.avi";
    {
        cv::VideoWriter writer(clip.string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10.0, {64, 64});
        ASSERT_TRUE(writer.isOpened());
        for (int i = 0; i < 3; ++i) {
            writer.write(cv::Mat(64, 64, CV_8UC3, cv::Scalar(90, 90, 90)));
        }
    }
    const fs::path gt = scratch.path() / "gt.txt";
    zor::test::writeFile(gt, "0 0 20 20 10 10\n5 1 20 20 10 10\n");
    const fs::path json = scratch.path() / "out.json";
    for (const auto& [video, expected] : {std::pair{cut, std::string("where its header says 40")},
                                          std::pair{clip, std::string("labels frame 5 but the video")}}) {
        const zor::test::ToolRun run =
            runTool({"--video", video.string(), "--labels", gt.string(), "--model", kModel, "--json", json.string()},
                    scratch.path());
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.err.rfind("helmet-eval: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(json)) << "figures were written";
    }
}

TEST_F(HelmetEvalTool, UserErrorsExitTwoWithOneLine) {
    const fs::path root = makeFolder();
    const fs::path noModel = scratch.path() / "empty-model";
    fs::create_directories(noModel);
    const std::vector<std::vector<std::string>> cases{
        {"--images", root.string(), "--model", kModel, "--bogus", "1"},
        {"--model", kModel},
        {"--images", root.string(), "--video", "x.avi", "--model", kModel},
        {"--images", root.string(), "--model", (scratch.path() / "missing").string()},
        {"--images", root.string(), "--model", noModel.string()},
        {"--images", (scratch.path() / "nowhere").string(), "--model", kModel},
        {"--images", root.string(), "--model", kModel, "--classes", "0:person"},
        {"--images", root.string(), "--model", kModel, "--threshold", "1.5"},
        {"--video", (scratch.path() / "none.avi").string(), "--labels", "gt.txt", "--model", kModel},
    };
    for (const auto& arguments : cases) {
        const zor::test::ToolRun run = runTool(arguments, scratch.path());
        EXPECT_EQ(run.status, 2) << arguments[0] << " ... " << arguments.back() << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.err.rfind("helmet-eval: ", 0), 0u) << run.err;
    }
    zor::test::writeFile(root / "labels" / "b.txt", "0 0.5 0.5\n");
    const zor::test::ToolRun malformed = runTool({"--images", root.string(), "--model", kModel}, scratch.path());
    EXPECT_EQ(malformed.status, 2);
    EXPECT_NE(malformed.err.find("b.txt:1"), std::string::npos) << malformed.err;
    EXPECT_EQ(runTool({"--help"}, scratch.path()).status, 0);
}

// Each input that must be a regular file, bad label values and unusable
// output places: exit 2 with one line naming the path, no report, no hang.
TEST_F(HelmetEvalTool, HostileInputsAndOutputsExitTwoNamingThePath) {
    const fs::path root = makeFolder();
    const fs::path video = scratch.path() / "clip.avi";
    {
        cv::VideoWriter writer(video.string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10.0, {64, 64});
        ASSERT_TRUE(writer.isOpened());
        writer.write(cv::Mat(64, 64, CV_8UC3, cv::Scalar(90, 90, 90)));
    }
    const fs::path fifo = scratch.path() / "fifo.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const fs::path gt = scratch.path() / "gt.txt";
    zor::test::writeFile(gt, "0 0 20 20 10 10\n0 1 62 20 10 10\n");  // the second reaches past x = 64
    const fs::path badRoot = scratch.path() / "bad";
    fs::create_directories(badRoot / "labels");
    fs::copy(root / "images", badRoot / "images");
    zor::test::writeFile(badRoot / "labels" / "a.txt", "0 0.5 0.5 0.1 0.1\n1 5 5 0.1 0.1\n");
    const fs::path fifoRoot = scratch.path() / "fifo-labels";
    fs::create_directories(fifoRoot / "labels");
    fs::copy(root / "images", fifoRoot / "images");
    ASSERT_EQ(mkfifo((fifoRoot / "labels" / "a.txt").c_str(), 0600), 0);
    const fs::path json = scratch.path() / "out.json";
    const std::vector<std::string> onVideo{"--video", video.string(), "--labels"};
    const std::vector<std::string> onImages{"--images", root.string()};
    auto with = [](std::vector<std::string> base, std::vector<std::string> more) {
        base.insert(base.end(), more.begin(), more.end());
        return base;
    };
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {with(onVideo, {fifo.string()}), fifo.string()},
        {with(onVideo, {"/dev/zero"}), "/dev/zero"},
        {with(onVideo, {scratch.path().string()}), scratch.path().string()},
        {with(onVideo, {(scratch.path() / "none.txt").string()}), "none.txt"},
        {with(onVideo, {gt.string()}), "gt.txt:2"},
        {{"--video", fifo.string(), "--labels", gt.string()}, fifo.string()},
        {with(onImages, {"--exclude", fifo.string()}), fifo.string()},
        {{"--images", badRoot.string()}, "a.txt:2"},
        {{"--images", fifoRoot.string()}, "a.txt"},
        {with(onImages, {"--json", scratch.path().string()}), scratch.path().string()},
        {with(onImages, {"--json", (scratch.path() / "no" / "out.json").string()}), "no/out.json"},
        {with(onImages, {"--json", json.string(), "--curves", gt.string()}), gt.string()},
    };
    for (const auto& [arguments, named] : cases) {
        const zor::test::ToolRun run = runTool(with(arguments, {"--model", kModel}), scratch.path(), kHostileLimit);
        const std::string what = arguments.back();
        EXPECT_FALSE(run.killed) << what << ": hangs";
        EXPECT_EQ(run.status, 2) << what << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.err.rfind("helmet-eval: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(json)) << what << ": a report was written";
    }
}

TEST(HelmetEvalOptions, ReadsBothFormsAndChecksRanges) {
    const char* argv[] = {"helmet-eval", "--images=set", "--threshold", "0.4",
                          "--iou=0.75",  "--optimize",   "--frames",    "7"};
    const auto options = zor::eval::parseOptions(8, argv, "model-dir");
    ASSERT_TRUE(options);
    EXPECT_EQ(options->imagesFolder, "set");
    EXPECT_EQ(options->modelDirectory, "model-dir");
    EXPECT_EQ(options->threshold, 0.4);
    EXPECT_EQ(options->iou, 0.75);
    EXPECT_TRUE(options->optimize);
    EXPECT_EQ(options->frameLimit, 7);
    EXPECT_EQ(options->detectThreshold, 0.05f);

    const std::vector<std::vector<const char*>> bad{
        {"x", "--video", "v.avi"},
        {"x", "--images", "s", "--labels", "gt.txt"},
        {"x", "--video", "v.avi", "--labels", "g", "--exclude", "e"},
        {"x", "--images", "s", "--detect-threshold", "0.5", "--threshold", "0.4"},
        {"x", "--images", "s", "--iou", "0"},
        {"x", "--images", "s", "--frames", "-1"},
        {"x", "--images", "s", "--min-height", "-2"},
        {"x", "--images", "s", "--images", "t"},
        {"x", "--images"},
        {"x", "stray"},
    };
    for (const auto& arguments : bad) {
        EXPECT_THROW(zor::eval::parseOptions(static_cast<int>(arguments.size()), arguments.data(), "m"),
                     zor::tools::UserError)
            << arguments.back();
    }
    const char* same[] = {"x", "--images", "s", "--detect-threshold", "0.3", "--threshold", "0.3"};
    EXPECT_NO_THROW(zor::eval::parseOptions(7, same, "m"));
}

}  // namespace
