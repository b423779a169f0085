// Runs the built helmet-bench on the tiny known-output model and checks that
// its JSON report is complete and consistent with itself and with the library.
#include "FrameSource.h"
#include "ScratchFolder.h"
#include "ZORCustomHMD.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path tool = HELMET_BENCH_EXE;
const fs::path testModel = HELMET_BENCH_TEST_MODEL;

using Scratch = testsupport::ScratchFolder;

std::string readText(const fs::path& path) {
    return testsupport::readFile(path);
}

// For the shell; the test paths hold no single quote.
std::string quoted(const fs::path& path) {
    std::string text(1, '\'');
    text += path.string();
    text += '\'';
    return text;
}

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

ToolRun runTool(const std::string& arguments, const Scratch& scratch) {
    const fs::path out = scratch.path() / "stdout.txt";
    const fs::path err = scratch.path() / "stderr.txt";
    std::string command = quoted(tool);
    command += " " + arguments + " >" + quoted(out) + " 2>" + quoted(err);
    const int status = std::system(command.c_str());
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readText(out);
    run.err = readText(err);
    return run;
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
    if (!detector.Initialize(testModel.string(), 0.6f, direct.labels)) {
        return direct;
    }
    const hbench::FrameSet frames = hbench::makeSyntheticFrames(cv::Size(64, 64), 1);
    direct.detections = static_cast<int>(detector.RunInference(frames.frames.front()).size());
    detector.ConfigureParameters(direct.parameters);
    return direct;
}

std::vector<double> readNumbers(const fs::path& path) {
    std::istringstream text(readText(path));
    std::vector<double> numbers;
    for (double number = 0.0; text >> number;) {
        numbers.push_back(number);
    }
    return numbers;
}

TEST(SyntheticFrames, AreRepeatableDistinctAndCapped) {
    const hbench::FrameSet first = hbench::makeSyntheticFrames(cv::Size(96, 54), 3);
    const hbench::FrameSet again = hbench::makeSyntheticFrames(cv::Size(96, 54), 3);
    ASSERT_EQ(first.frames.size(), 3u);
    for (std::size_t i = 0; i < first.frames.size(); ++i) {
        EXPECT_EQ(first.frames[i].size(), cv::Size(96, 54));
        EXPECT_EQ(first.frames[i].type(), CV_8UC3);
        EXPECT_EQ(cv::norm(first.frames[i], again.frames[i], cv::NORM_INF), 0.0) << "frame " << i << " changed";
    }
    EXPECT_GT(cv::norm(first.frames[0], first.frames[1], cv::NORM_L1), 0.0);
    EXPECT_EQ(hbench::makeSyntheticFrames(cv::Size(16, 16), 10'000).frames.size(),
              static_cast<std::size_t>(hbench::maxSyntheticFrames));
}

TEST(BenchTool, TwoCamerasOnTheTestModelGiveAConsistentJsonReport) {
    Scratch scratch;
    const fs::path json = scratch.path() / "report.json";
    const fs::path latencies = scratch.path() / "latencies.txt";
    const ToolRun run = runTool("--model " + quoted(testModel) + " --synthetic=64x64 --frames 10 --cameras 2 --json " +
                                    quoted(json) + " --latencies " + quoted(latencies),
                                scratch);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* row : {"Initialize", "first call", "latency p50", "latency p99", "throughput",
                            "detections per frame", "peak resident memory"}) {
        EXPECT_NE(run.out.find(row), std::string::npos) << "table lacks " << row << ":\n" << run.out;
    }
    EXPECT_EQ(run.err.find("helmet-bench: warm-up"), std::string::npos) << "progress shown on a non-terminal";

    cv::FileStorage report(json.string(), cv::FileStorage::READ | cv::FileStorage::FORMAT_JSON);
    ASSERT_TRUE(report.isOpened()) << readText(json);
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
        EXPECT_FALSE(report[field].empty()) << "missing " << field;
    }
    EXPECT_EQ(static_cast<std::string>(report["model"]), testModel.string());
    EXPECT_EQ(static_cast<int>(report["frame_width"]), 64);
    EXPECT_EQ(static_cast<int>(report["frame_height"]), 64);
    EXPECT_EQ(static_cast<int>(report["cameras"]), 2);
    EXPECT_EQ(static_cast<int>(report["frames_per_camera"]), 10);
    const int warmupPerCamera = report["warmup_per_camera"];
    EXPECT_EQ(static_cast<int>(report["warmup_ms"]["count"]), 2 * warmupPerCamera);

    // Frame counts: every camera's measured calls, and only those.
    const int measured = report["measured_frames"];
    EXPECT_EQ(measured, 20);
    const cv::FileNode latency = report["latency_ms"];
    EXPECT_EQ(static_cast<int>(latency["count"]), measured);

    // Order statistics, and the wall time enclosing every measured call.
    const double minimum = latency["min"], p50 = latency["p50"], p90 = latency["p90"], p99 = latency["p99"];
    const double maximum = latency["max"], mean = latency["mean"];
    EXPECT_GT(minimum, 0.0);
    EXPECT_LE(minimum, p50);
    EXPECT_LE(p50, p90);
    EXPECT_LE(p90, p99);
    EXPECT_LE(p99, maximum);
    EXPECT_LE(minimum, mean);
    EXPECT_LE(mean, maximum);
    const double wallMs = static_cast<double>(report["wall_s"]) * 1000.0;
    EXPECT_GE(wallMs + 1e-3, maximum);
    EXPECT_GE(2.0 * wallMs + 1e-3, mean * measured) << "two cameras cannot spend more than twice the wall time";
    EXPECT_NEAR(static_cast<double>(report["throughput_fps"]), measured / (wallMs / 1000.0),
                1e-3 * static_cast<double>(report["throughput_fps"]));
    EXPECT_GT(static_cast<double>(report["initialize_ms"]), 0.0);
    EXPECT_GT(static_cast<double>(report["first_call_ms"]), 0.0);

    // The model's output does not depend on the pixels: every frame gives
    // what the library gives for any one frame.
    const DirectRun direct = runDirectly();
    const int perFrame = direct.detections;
    ASSERT_GT(perFrame, 0);
    EXPECT_EQ(static_cast<std::string>(report["labels"]), direct.labels);
    EXPECT_EQ(static_cast<int>(report["detections"]), perFrame * measured);
    EXPECT_DOUBLE_EQ(static_cast<double>(report["detections_per_frame"]), perFrame);

    const double before = report["rss_before_initialize_mb"], after = report["rss_after_run_mb"];
    EXPECT_GT(before, 0.0);
    EXPECT_GT(after, 0.0);
    EXPECT_GE(static_cast<double>(report["peak_rss_mb"]), std::max(before, after));

    // Every entry ConfigureParameters gives, in its order, with its value.
    const cv::FileNode parameters = report["parameters"];
    ASSERT_TRUE(parameters.isMap());
    ASSERT_EQ(parameters.size(), direct.parameters.textEntries.size());
    ASSERT_GT(parameters.size(), 0u);
    std::size_t index = 0;
    for (const cv::FileNode& entry : parameters) {
        const ParamTextEntry& expected = direct.parameters.textEntries[index++];
        EXPECT_EQ(entry.name(), expected.text1);
        EXPECT_EQ(static_cast<std::string>(entry), expected.text2) << expected.text1;
    }

    // The per-call file holds the very calls the summary describes.
    const std::vector<double> calls = readNumbers(latencies);
    ASSERT_EQ(calls.size(), static_cast<std::size_t>(measured));
    EXPECT_NEAR(*std::min_element(calls.begin(), calls.end()), minimum, 1e-5);
    EXPECT_NEAR(*std::max_element(calls.begin(), calls.end()), maximum, 1e-5);
    EXPECT_NEAR(std::accumulate(calls.begin(), calls.end(), 0.0) / measured, mean, 1e-5);
}

TEST(BenchTool, FailsClearlyWithoutAModelOrWithBadOptions) {
    Scratch scratch;
    const fs::path missing = scratch.path() / "no-such-model";
    const fs::path json = scratch.path() / "report.json";
    const ToolRun noModel =
        runTool("--model " + quoted(missing) + " --synthetic=64x64 --frames 2 --json " + quoted(json), scratch);
    EXPECT_EQ(noModel.exitCode, 2);
    EXPECT_NE(noModel.err.find(missing.string()), std::string::npos) << noModel.err;
    EXPECT_FALSE(fs::exists(json)) << "a report was written for a failed run";

    const ToolRun badOption = runTool("--model " + quoted(testModel) + " --synthetic=64x64 --frames 0", scratch);
    EXPECT_EQ(badOption.exitCode, 2);
    EXPECT_NE(badOption.err.find("--frames"), std::string::npos) << badOption.err;

    const fs::path noSuchVideo = scratch.path() / "none.mp4";
    const ToolRun noVideo =
        runTool("--model " + quoted(testModel) + " --video " + quoted(noSuchVideo) + " --frames 2", scratch);
    EXPECT_EQ(noVideo.exitCode, 2);
    EXPECT_NE(noVideo.err.find("none.mp4"), std::string::npos) << noVideo.err;
}

}  // namespace
