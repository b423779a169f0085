// What a tool writes besides its figures: the usage for --help, the progress
// line and whole output files.
#include "CommandLine.h"
#include "ProgressLine.h"
#include "ScratchFolder.h"
#include "Terminal.h"
#include "TextFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using zor::tools::ProgressLine;

const zor::tools::OptionTable kTable{{"model"}, {}, 0};

std::optional<zor::tools::Arguments> parse(std::vector<const char*> args, std::ostream& out) {
    args.insert(args.begin(), "tool");
    return zor::tools::parseCommandLine(static_cast<int>(args.size()), args.data(), kTable, "Usage: tool\n", out);
}

TEST(ParseCommandLine, PrintsTheUsageForHelpAndNothingOtherwise) {
    std::ostringstream out;
    EXPECT_FALSE(parse({"--model", "/m", "--help"}, out).has_value());
    EXPECT_EQ(out.str(), "Usage: tool\n");

    std::ostringstream quiet;
    const auto arguments = parse({"--model", "/m"}, quiet);
    ASSERT_TRUE(arguments.has_value());
    EXPECT_EQ(arguments->text("model"), "/m");
    EXPECT_EQ(quiet.str(), "");
    EXPECT_THROW(parse({"--frames", "3"}, quiet), zor::tools::UserError);
}

TEST(ProgressLine, IsOffWhenNotATerminal) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(zor::tools::isTerminal(fileno(file)));
    std::fclose(file);

    std::ostringstream out;
    ProgressLine off(out, false);
    off.show("frame 1", true);
    off.finish("frame 2");
    EXPECT_EQ(out.str(), "");
}

TEST(ProgressLine, RewritesItsLineAndEndsIt) {
    std::ostringstream out;
    ProgressLine line(out, true);
    line.show("frame 1", true);
    line.finish("frame 2");
    EXPECT_EQ(out.str(), "\rframe 1   \rframe 2   \n");
    EXPECT_EQ(zor::tools::countText("image", 120, 600), "image 120/600 (20%)");
    EXPECT_EQ(zor::tools::countText("frame", 7, 0), "frame 7");
}

TEST(TextFile, WritesTheWholeTextOrThrows) {
    const zor::test::ScratchFolder folder;
    const auto path = folder.path() / "report.json";
    zor::test::writeFile(path, "an older and longer report");
    zor::tools::writeTextFile(path, "{\"a\": 1}\n");
    EXPECT_EQ(zor::test::readFile(path), "{\"a\": 1}\n");

    const auto nowhere = folder.path() / "missing" / "report.json";
    try {
        zor::tools::writeTextFile(nowhere, "{}");
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "cannot write " + nowhere.string());
    }
}

}  // namespace
