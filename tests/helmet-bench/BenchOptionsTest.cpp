#include "BenchOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

zor::bench::BenchOptions defaults() {
    zor::bench::BenchOptions options;
    options.modelDirectory = "/default/model";
    options.video = "/default/video.mp4";
    return options;
}

zor::bench::CommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "helmet-bench");
    return zor::bench::parseCommandLine(static_cast<int>(args.size()), args.data(), defaults());
}

TEST(FrameSize, ReadsWidthByHeight) {
    EXPECT_EQ(zor::bench::parseFrameSize("1920x1080"), cv::Size(1920, 1080));
    EXPECT_EQ(zor::bench::parseFrameSize("64X48"), cv::Size(64, 48));
    for (const char* bad : {"", "1920", "x1080", "1920x", "0x10", "10x0", "-5x5", "12x34x5", "ax4", "4.5x3"}) {
        EXPECT_FALSE(zor::bench::parseFrameSize(bad).has_value()) << bad;
    }
}

TEST(CommandLine, AcceptsSpaceAndEqualsForms) {
    const zor::bench::CommandLine line =
        parse({"--model", "/m", "--synthetic=640x480", "--frames", "10", "--cameras=3", "--warmup", "0", "--threshold",
               "0.25", "--optimize", "--json", "/tmp/out.json", "--opencv-threads", "1"});
    ASSERT_EQ(line.error, "");
    EXPECT_FALSE(line.helpRequested);
    EXPECT_EQ(line.options.modelDirectory, "/m");
    EXPECT_EQ(line.options.synthetic, cv::Size(640, 480));
    EXPECT_EQ(line.options.framesPerCamera, 10);
    EXPECT_EQ(line.options.cameras, 3);
    EXPECT_EQ(line.options.warmupPerCamera, 0);
    EXPECT_FLOAT_EQ(line.options.threshold, 0.25f);
    EXPECT_TRUE(line.options.optimize);
    EXPECT_EQ(line.options.jsonPath, "/tmp/out.json");
    EXPECT_EQ(line.options.opencvThreads, 1);

    EXPECT_TRUE(parse({"--help"}).helpRequested);
    EXPECT_TRUE(parse({"-h"}).helpRequested);
}

TEST(CommandLine, RejectsUnusableArguments) {
    const std::vector<std::vector<const char*>> bad{
        {"--frames", "0"},
        {"--frames", "ten"},
        {"--frames=5x"},
        {"--cameras", "0"},
        {"--cameras", "1000"},
        {"--warmup", "-1"},
        {"--threshold=1.5"},
        {"--threshold", "-0.1"},
        {"--threshold", "high"},
        {"--synthetic", "1920"},
        {"--json"},
        {"--json", "--frames", "3"},
        {"--speed", "3"},
        {"stray"},
        {"--optimize=maybe"},
        {"--opencv-threads", "0"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const char* arg : args) {
            joined += std::string(arg) + " ";
        }
        const zor::bench::CommandLine line = parse(args);
        EXPECT_NE(line.error, "") << joined;
        EXPECT_FALSE(line.helpRequested) << joined;
    }
}

}  // namespace
