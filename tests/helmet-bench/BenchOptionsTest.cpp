#include "BenchOptions.h"
#include "ToolExit.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

zor::bench::BenchOptions defaults() {
    zor::bench::BenchOptions options;
    options.modelDirectory = "/default/model";
    options.video = "/default/video.mp4";
    return options;
}

std::optional<zor::bench::BenchOptions> parse(std::vector<const char*> args) {
    args.insert(args.begin(), "helmet-bench");
    std::ostringstream usage;
    return zor::bench::parseOptions(static_cast<int>(args.size()), args.data(), defaults(), usage);
}

TEST(FrameSize, ReadsWidthByHeight) {
    EXPECT_EQ(zor::bench::parseFrameSize("1920x1080"), cv::Size(1920, 1080));
    EXPECT_EQ(zor::bench::parseFrameSize("64X48"), cv::Size(64, 48));
    for (const char* bad : {"", "1920", "x1080", "1920x", "0x10", "10x0", "-5x5", "12x34x5", "ax4", "4.5x3"}) {
        EXPECT_FALSE(zor::bench::parseFrameSize(bad).has_value()) << bad;
    }
}

TEST(CommandLine, AcceptsSpaceAndEqualsForms) {
    const std::optional<zor::bench::BenchOptions> options =
        parse({"--model", "/m", "--synthetic=640x480", "--frames", "10", "--cameras=3", "--warmup", "0", "--threshold",
               "0.25", "--optimize", "--json", "/tmp/out.json", "--opencv-threads", "1"});
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->modelDirectory, "/m");
    EXPECT_EQ(options->synthetic, cv::Size(640, 480));
    EXPECT_EQ(options->framesPerCamera, 10);
    EXPECT_EQ(options->cameras, 3);
    EXPECT_EQ(options->warmupPerCamera, 0);
    EXPECT_FLOAT_EQ(options->threshold, 0.25f);
    EXPECT_TRUE(options->optimize);
    EXPECT_EQ(options->jsonPath, "/tmp/out.json");
    EXPECT_EQ(options->opencvThreads, 1);

    EXPECT_FALSE(parse({"--help"}).has_value());
    EXPECT_FALSE(parse({"-h"}).has_value());
    // Like every tool's: what it does, then how to call it.
    const char* help[] = {"helmet-bench", "--help"};
    std::ostringstream usage;
    zor::bench::parseOptions(2, help, defaults(), usage);
    EXPECT_NE(usage.str().find("\nUsage: helmet-bench [options]\n"), std::string::npos) << usage.str();
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
        EXPECT_THROW(parse(args), zor::tools::UserError) << joined;
    }
}

}  // namespace
