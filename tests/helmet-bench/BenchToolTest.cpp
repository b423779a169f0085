// Runs the built helmet-bench on the tiny known-output model and checks that
// its JSON report is complete and consistent with itself and with the library.
#include "FrameSource.h"
#include "ToolProcess.h"
#include "TruncatedVideo.h"
#include "ZORCustomHMD.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kTestModel = fs::path(zor::test::paths::kTestModels) / "v5_basic";

using Scratch = zor::test::ScratchFolder;
using zor::test::readFile;
using zor::test::ToolRun;

ToolRun runTool(const std::vector<std::string>& arguments, const Scratch& scratch) {
    return zor::test::runTool(arguments, scratch.path());
}

// What the library itself reports at the tool's default threshold: the
// detections in one synthetic frame, the label map and ConfigureParameters.
struct DirectRun {
    int detections = -1;
    std::string labels;
    CustomParams parameters;
};

DirectRun runDirectly() {
    DirectRun direct;
    ZORCustomHMD detector;
    if (!detector.Initialize(kTestModel.string(), 0.6f, direct.labels)) {
        return direct;
    }
    const zor::bench::FrameSet frames = zor::bench::makeSyntheticFrames(cv::Size(64, 64), 1);
    direct.detections = static_cast<int>(detector.RunInference(frames.frames.front()).size());
    detector.ConfigureParameters(direct.parameters);
    return direct;
}

std::vector<double> readNumbers(const fs::path& path) {
    std::istringstream text(readFile(path));
    std::vector<double> numbers;
    for (double number = 0.0; text >> number;) {
        numbers.push_back(number);
    }
    return numbers;
}

TEST(SyntheticFrames, AreRepeatableDistinctAndCapped) {
    const zor::bench::FrameSet first = zor::bench::makeSyntheticFrames(cv::Size(96, 54), 3);
    const zor::bench::FrameSet again = zor::bench::makeSyntheticFrames(cv::Size(96, 54), 3);
    ASSERT_EQ(first.frames.size(), 3u);
    for (std::size_t i = 0; i < first.frames.size(); ++i) {
        EXPECT_EQ(first.frames[i].size(), cv::Size(96, 54));
        EXPECT_EQ(first.frames[i].type(), CV_8UC3);
        EXPECT_EQ(cv::norm(first.frames[i], again.frames[i], cv::NORM_INF), 0.0) << "frame " << i << " changed";
    }
    EXPECT_GT(cv::norm(first.frames[0], first.frames[1], cv::NORM_L1), 0.0);
    EXPECT_EQ(zor::bench::makeSyntheticFrames(cv::Size(16, 16), 10'000).frames.size(),
              static_cast<std::size_t>(zor::bench::kMaxSyntheticFrames));
}

// One run of the tool with two cameras on the test model, shared by the
// tests below: its table, its JSON report and its per-call latencies.
class TwoCameraRun : public testing::Test {
protected:
    struct Shared {
        fs::path folder;
        ToolRun run;
        std::string reportText;
        std::vector<double> calls;
        DirectRun direct;
    };

    static void SetUpTestSuite() {
        shared_ = std::make_unique<Shared>();
        shared_->folder = fs::temp_directory_path() / ("hmd-BenchTool-" + std::to_string(getpid()));
        fs::remove_all(shared_->folder);
        fs::create_directories(shared_->folder);
        const fs::path json = shared_->folder / "report.json";
        const fs::path latencies = shared_->folder / "latencies.txt";
        shared_->run =
            zor::test::runTool({"--model", kTestModel.string(), "--synthetic=64x64", "--frames", "10", "--cameras", "2",
                                "--json", json.string(), "--latencies", latencies.string()},
                               shared_->folder);
        shared_->reportText = fs::exists(json) ? readFile(json) : "";
        shared_->calls = fs::exists(latencies) ? readNumbers(latencies) : std::vector<double>();
        shared_->direct = runDirectly();
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(shared_->folder, ignored);
        shared_.reset();
    }

    void SetUp() override {
        ASSERT_EQ(shared_->run.status, 0) << shared_->run.err;
        report_.open(shared_->reportText,
                     cv::FileStorage::READ | cv::FileStorage::FORMAT_JSON | cv::FileStorage::MEMORY);
        ASSERT_TRUE(report_.isOpened()) << shared_->reportText;
    }

    const ToolRun& run() const { return shared_->run; }
    const DirectRun& direct() const { return shared_->direct; }
    int measured() const { return report_["measured_frames"]; }
    cv::FileNode latency() const { return report_["latency_ms"]; }

    static inline std::unique_ptr<Shared> shared_;
    cv::FileStorage report_;
};

TEST_F(TwoCameraRun, PrintsEveryRowOfTheTableAndNoProgressOnANonTerminal) {
    for (const char* row : {"Initialize", "first call", "latency p50", "latency p99", "throughput",
                            "detections per frame", "peak resident memory"}) {
        EXPECT_NE(run().out.find(row), std::string::npos) << "table lacks " << row << ":\n" << run().out;
    }
    EXPECT_EQ(run().err.find("helmet-bench: warm-up"), std::string::npos) << "progress shown on a non-terminal";
}

TEST_F(TwoCameraRun, ReportHasEveryFieldAndTheRunsSettings) {
    for (const char* field : {"model",
                              "labels",
                              "source",
                              "frame_width",
                              "frame_height",
                              "cameras",
                              "frames_per_camera",
                              "warmup_per_camera",
                              "initialize_ms",
                              "first_call_ms",
                              "warmup_ms",
                              "latency_ms",
                              "measured_frames",
                              "wall_s",
                              "throughput_fps",
                              "detections",
                              "detections_per_frame",
                              "peak_rss_mb",
                              "rss_before_initialize_mb",
                              "rss_after_run_mb"}) {
        EXPECT_FALSE(report_[field].empty()) << "missing " << field;
    }
    EXPECT_EQ(static_cast<std::string>(report_["model"]), kTestModel.string());
    EXPECT_EQ(static_cast<int>(report_["frame_width"]), 64);
    EXPECT_EQ(static_cast<int>(report_["frame_height"]), 64);
    EXPECT_EQ(static_cast<int>(report_["cameras"]), 2);
    EXPECT_EQ(static_cast<int>(report_["frames_per_camera"]), 10);
}

TEST_F(TwoCameraRun, CountsEveryCamerasMeasuredCallsAndOnlyThose) {
    const int warmupPerCamera = report_["warmup_per_camera"];
    EXPECT_EQ(static_cast<int>(report_["warmup_ms"]["count"]), 2 * warmupPerCamera);
    EXPECT_EQ(measured(), 20);
    EXPECT_EQ(static_cast<int>(latency()["count"]), measured());
}

TEST_F(TwoCameraRun, OrderStatisticsAndWallTimeAgree) {
    const double minimum = latency()["min"], p50 = latency()["p50"], p90 = latency()["p90"], p99 = latency()["p99"];
    const double maximum = latency()["max"], mean = latency()["mean"];
    EXPECT_GT(minimum, 0.0);
    EXPECT_LE(minimum, p50);
    EXPECT_LE(p50, p90);
    EXPECT_LE(p90, p99);
    EXPECT_LE(p99, maximum);
    EXPECT_LE(minimum, mean);
    EXPECT_LE(mean, maximum);
    const double wallMs = static_cast<double>(report_["wall_s"]) * 1000.0;
    EXPECT_GE(wallMs + 1e-3, maximum);
    EXPECT_GE(2.0 * wallMs + 1e-3, mean * measured()) << "two cameras cannot spend more than twice the wall time";
    EXPECT_NEAR(static_cast<double>(report_["throughput_fps"]), measured() / (wallMs / 1000.0),
                1e-3 * static_cast<double>(report_["throughput_fps"]));
    EXPECT_GT(static_cast<double>(report_["initialize_ms"]), 0.0);
    EXPECT_GT(static_cast<double>(report_["first_call_ms"]), 0.0);
}

// The model's output does not depend on the pixels: every frame gives what
// the library gives for any one frame.
TEST_F(TwoCameraRun, DetectionsAndLabelsAreWhatTheLibraryGives) {
    const int perFrame = direct().detections;
    ASSERT_GT(perFrame, 0);
    EXPECT_EQ(static_cast<std::string>(report_["labels"]), direct().labels);
    EXPECT_EQ(static_cast<int>(report_["detections"]), perFrame * measured());
    EXPECT_DOUBLE_EQ(static_cast<double>(report_["detections_per_frame"]), perFrame);
}

TEST_F(TwoCameraRun, PeakResidentMemoryCoversBeforeAndAfter) {
    const double before = report_["rss_before_initialize_mb"], after = report_["rss_after_run_mb"];
    EXPECT_GT(before, 0.0);
    EXPECT_GT(after, 0.0);
    EXPECT_GE(static_cast<double>(report_["peak_rss_mb"]), std::max(before, after));
}

TEST_F(TwoCameraRun, ReportsEveryParameterInTheLibrarysOrder) {
    const cv::FileNode parameters = report_["parameters"];
    ASSERT_TRUE(parameters.isMap());
    ASSERT_EQ(parameters.size(), direct().parameters.textEntries.size());
    ASSERT_GT(parameters.size(), 0u);
    std::size_t index = 0;
    for (const cv::FileNode& entry : parameters) {
        const ParamTextEntry& expected = direct().parameters.textEntries[index++];
        EXPECT_EQ(entry.name(), expected.text1);
        EXPECT_EQ(static_cast<std::string>(entry), expected.text2) << expected.text1;
    }
}

TEST_F(TwoCameraRun, LatenciesFileHoldsTheCallsTheSummaryDescribes) {
    const std::vector<double>& calls = shared_->calls;
    ASSERT_EQ(calls.size(), static_cast<std::size_t>(measured()));
    EXPECT_NEAR(*std::min_element(calls.begin(), calls.end()), static_cast<double>(latency()["min"]), 1e-5);
    EXPECT_NEAR(*std::max_element(calls.begin(), calls.end()), static_cast<double>(latency()["max"]), 1e-5);
    EXPECT_NEAR(std::accumulate(calls.begin(), calls.end(), 0.0) / measured(), static_cast<double>(latency()["mean"]),
                1e-5);
}

TEST(BenchTool, FailsClearlyWithoutAModelOrWithBadOptions) {
    Scratch scratch;
    const fs::path missing = scratch.path() / "no-such-model";
    const fs::path json = scratch.path() / "report.json";
    const ToolRun noModel =
        runTool({"--model", missing.string(), "--synthetic=64x64", "--frames", "2", "--json", json.string()}, scratch);
    EXPECT_EQ(noModel.status, 2);
    EXPECT_NE(noModel.err.find(missing.string()), std::string::npos) << noModel.err;
    EXPECT_FALSE(fs::exists(json)) << "a report was written for a failed run";

    const ToolRun badOption = runTool({"--model", kTestModel.string(), "--synthetic=64x64", "--frames", "0"}, scratch);
    EXPECT_EQ(badOption.status, 2);
    EXPECT_NE(badOption.err.find("--frames"), std::string::npos) << badOption.err;

    const fs::path noSuchVideo = scratch.path() / "none.mp4";
    const ToolRun noVideo =
        runTool({"--model", kTestModel.string(), "--video", noSuchVideo.string(), "--frames", "2"}, scratch);
    EXPECT_EQ(noVideo.status, 2);
    EXPECT_NE(noVideo.err.find("none.mp4"), std::string::npos) << noVideo.err;
}

// Inputs that must be regular files and unusable output places: exit 2 with
// one line naming the path before any frame is decoded, nothing written, no hang.
TEST(BenchTool, HostileInputsAndOutputsExitTwoBeforeTheRun) {
    Scratch scratch;
    const fs::path fifo = scratch.path() / "fifo.mp4";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const fs::path json = scratch.path() / "report.json";
    const fs::path folder = scratch.path().string();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--video", fifo.string()}, fifo.string()},
        {{"--video", "/dev/zero"}, "/dev/zero"},
        {{"--video", folder.string()}, folder.string()},
        {{"--synthetic=64x64", "--compare-library", fifo.string()}, fifo.string()},
        {{"--synthetic=64x64", "--json", folder.string()}, folder.string()},
        {{"--synthetic=64x64", "--json", (folder / "no" / "r.json").string()}, "no/r.json"},
        {{"--synthetic=64x64", "--json", json.string(), "--latencies", (folder / "no" / "l.txt").string()}, "no/l.txt"},
    };
    for (auto [arguments, named] : cases) {
        arguments.insert(arguments.end(), {"--model", kTestModel.string(), "--frames", "1", "--warmup", "0"});
        const ToolRun run = zor::test::runTool(arguments, scratch.path(), std::chrono::seconds(120));
        EXPECT_FALSE(run.killed) << named << ": hangs";
        EXPECT_EQ(run.status, 2) << named << ": " << run.err;
        EXPECT_EQ(zor::test::lines(run.err).size(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("helmet-bench: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "") << "the run started";
        EXPECT_FALSE(fs::exists(json)) << named << ": a report was written";
    }
}

TEST(BenchTool, VideoCutShortIsAWarningBeforeTheFigures) {
    Scratch scratch;
    const fs::path video = scratch.path() / "cut.avi";
    ASSERT_TRUE(zor::test::writeTruncatedVideo(video, 40, {160, 120}));
    const ToolRun run = runTool(
        {"--model", kTestModel.string(), "--video", video.string(), "--frames", "50", "--warmup", "0"}, scratch);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> errLines = zor::test::lines(run.err);
    ASSERT_EQ(errLines.size(), 1u) << run.err;  // and no decoder's own lines
    EXPECT_EQ(errLines[0].rfind("helmet-bench: warning: the video " + video.string() + " decodes ", 0), 0u)
        << errLines[0];
    EXPECT_NE(errLines[0].find("where its header says 40"), std::string::npos) << errLines[0];
    EXPECT_NE(run.out.find("p50"), std::string::npos) << run.out;
}

}  // namespace

namespace {

// The file's digest as coreutils computes it, independent of the tool's own.
std::string sha256sum(const fs::path& file, const Scratch& scratch) {
    const ToolRun run = zor::test::runProgram({"/usr/bin/sha256sum", file.string()}, scratch.path());
    return run.status == 0 ? run.out.substr(0, 64) : std::string();
}

std::vector<double> runMedians(const cv::FileNode& report) {
    std::vector<double> medians;
    for (const cv::FileNode& run : report["runs"]) {
        medians.push_back(static_cast<double>(run["latency_ms"]["p50"]));
    }
    return medians;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

TEST(BenchTool, RepetitionsReportEveryRunWithTheContextOfTheMeasurement) {
    Scratch scratch;
    const fs::path json = scratch.path() / "report.json";
    const ToolRun run = runTool({"--model", kTestModel.string(), "--synthetic=64x64", "--frames", "4", "--repetitions",
                                 "3", "--json", json.string()},
                                scratch);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Run on ("), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("p50 over repetitions"), std::string::npos) << run.out;

    cv::FileStorage file(json.string(), cv::FileStorage::READ | cv::FileStorage::FORMAT_JSON);
    ASSERT_TRUE(file.isOpened()) << readFile(json);
    const cv::FileNode report = file.root();
    EXPECT_EQ(static_cast<int>(report["repetitions"]), 3);
    ASSERT_EQ(report["runs"].size(), 3u);
    EXPECT_EQ(static_cast<int>(report["measured_frames"]), 12);
    EXPECT_EQ(static_cast<int>(report["latency_ms"]["count"]), 12);
    const std::vector<double> medians = runMedians(report);
    const cv::FileNode spread = report["run_median_ms"];
    EXPECT_EQ(static_cast<int>(spread["count"]), 3);
    EXPECT_DOUBLE_EQ(static_cast<double>(spread["median"]), median(medians));
    EXPECT_DOUBLE_EQ(static_cast<double>(spread["min"]), *std::min_element(medians.begin(), medians.end()));
    EXPECT_DOUBLE_EQ(static_cast<double>(spread["max"]), *std::max_element(medians.begin(), medians.end()));

    const cv::FileNode context = report["context"];
    EXPECT_EQ(static_cast<std::string>(context["opencv_version"]), CV_VERSION);
    EXPECT_EQ(static_cast<int>(context["cpus"]), static_cast<int>(std::thread::hardware_concurrency()));
    EXPECT_FALSE(static_cast<std::string>(context["opencv_build_type"]).empty());
    EXPECT_EQ(static_cast<std::string>(context["date"]).size(), std::string("2026-12-09T05:00:00+0000").size());
    const fs::path library = static_cast<std::string>(report["library_file"]);
    ASSERT_TRUE(fs::is_regular_file(library)) << library;
    EXPECT_NE(library.filename().string().find("ZORCustomHelmetDetection"), std::string::npos) << library;
    EXPECT_EQ(static_cast<std::string>(report["library_sha256"]), sha256sum(library, scratch));
    EXPECT_EQ(static_cast<double>(report["library_bytes"]), static_cast<double>(fs::file_size(library)));
}

TEST(BenchTool, ComparesTwoModelsInTurnAndReportsTheRatioOfTheirMedians) {
    Scratch scratch;
    const fs::path json = scratch.path() / "compare.json";
    const fs::path otherModel = kTestModel.parent_path() / "v8_basic";
    const ToolRun run = runTool({"--model", kTestModel.string(), "--compare-model", otherModel.string(),
                                 "--synthetic=64x64", "--frames", "3", "--warmup", "1", "--json", json.string()},
                                scratch);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("candidate / baseline"), std::string::npos) << run.out;

    cv::FileStorage file(json.string(), cv::FileStorage::READ | cv::FileStorage::FORMAT_JSON);
    ASSERT_TRUE(file.isOpened()) << readFile(json);
    const cv::FileNode baseline = file["baseline"];
    const cv::FileNode candidate = file["candidate"];
    EXPECT_EQ(static_cast<std::string>(baseline["model"]), kTestModel.string());
    EXPECT_EQ(static_cast<std::string>(candidate["model"]), otherModel.string());
    // Five runs each by default: a ratio needs a spread.
    ASSERT_EQ(baseline["runs"].size(), 5u);
    ASSERT_EQ(candidate["runs"].size(), 5u);
    const double ratio = median(runMedians(candidate)) / median(runMedians(baseline));
    EXPECT_NEAR(static_cast<double>(file["ratio_of_medians"]), ratio, 1e-9 * ratio);
    const cv::FileNode pairs = file["pair_ratios"];
    EXPECT_EQ(static_cast<int>(pairs["count"]), 5);
    EXPECT_LE(static_cast<double>(pairs["min"]), static_cast<double>(pairs["median"]));
    EXPECT_LE(static_cast<double>(pairs["median"]), static_cast<double>(pairs["max"]));
}

TEST(BenchTool, ComparesAgainstAnotherLibraryFileRunningThatLibrarysOwnCode) {
    if (*zor::test::paths::kOtherLibrary == '\0') {
        GTEST_SKIP() << "built without the faulty libraries";
    }
    // This faulty library returns an empty label map: seeing it proves that
    // the candidate ran its own code, not the linked library's.
    const fs::path other = zor::test::paths::kOtherLibrary;
    Scratch scratch;
    const fs::path json = scratch.path() / "compare.json";
    const ToolRun run = runTool({"--model", kTestModel.string(), "--compare-library", other.string(),
                                 "--synthetic=64x64", "--frames", "2", "--repetitions", "2", "--json", json.string()},
                                scratch);
    ASSERT_EQ(run.status, 0) << run.err;
    cv::FileStorage file(json.string(), cv::FileStorage::READ | cv::FileStorage::FORMAT_JSON);
    ASSERT_TRUE(file.isOpened()) << readFile(json);
    EXPECT_FALSE(static_cast<std::string>(file["baseline"]["labels"]).empty());
    EXPECT_EQ(static_cast<std::string>(file["candidate"]["labels"]), "");
    EXPECT_EQ(fs::path(static_cast<std::string>(file["candidate"]["library_file"])), fs::weakly_canonical(other));
    EXPECT_EQ(static_cast<std::string>(file["candidate"]["library_sha256"]), sha256sum(other, scratch));
    EXPECT_NE(static_cast<std::string>(file["candidate"]["library_sha256"]),
              static_cast<std::string>(file["baseline"]["library_sha256"]));
}

TEST(BenchTool, RefusesALibraryFileWithoutTheDetector) {
    Scratch scratch;
    const fs::path notALibrary = scratch.path() / "libnothing.so";
    zor::test::writeFile(notALibrary, "not a shared object\n");
    const ToolRun run = runTool({"--model", kTestModel.string(), "--compare-library", notALibrary.string(),
                                 "--synthetic=64x64", "--frames", "1"},
                                scratch);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(notALibrary.string()), std::string::npos) << run.err;
}

}  // namespace
