// What a tool reads and writes besides its figures: the usage for --help, the
// progress line, JSON strings, bounded text inputs and output files.
#include "CommandLine.h"
#include "JsonText.h"
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

// Every string a tool writes as JSON is valid UTF-8: each ill-formed part is
// one U+FFFD, well-formed text passes unchanged.
TEST(JsonString, ReplacesIllFormedUtf8) {
    const std::string r = "\xEF\xBF\xBD";
    const std::vector<std::pair<std::string, std::string>> cases{
        {"h\xC3\xA9lm \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF",
         "h\xC3\xA9lm \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"},
        {"a\xFF"
         "b\x80",
         "a" + r + "b" + r},                                  // stray bytes
        {"\xC0\xAF", r + r},                                  // overlong '/'
        {"\xE0\x80\xAF", r + r + r},                          // overlong, three bytes
        {"\xF0\x80\x80\xAF", r + r + r + r},                  // overlong, four bytes
        {"\xED\xA0\x80\xED\xBF\xBF", r + r + r + r + r + r},  // surrogates
        {"\xF4\x90\x80\x80", r + r + r + r},                  // past U+10FFFF
        {"\xE2\x82x\xF0\x9F\x98", r + "x" + r},               // cut short: one each
        {"q\"\\\n\x01", "q\\\"\\\\\\n\\u0001"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(zor::tools::jsonString(input), "\"" + expected + "\"") << input;
    }
}

// Inputs that must be regular files: a device or a folder would never end
// or not read; the message names the path. (FIFOs are tried through the
// tools, whose runs have a time limit.)
TEST(TextInput, ReadsRegularFilesWithinTheBoundOnly) {
    const zor::test::ScratchFolder folder;
    const auto file = folder.path() / "labels.txt";
    zor::test::writeFile(file, "0 0.5 0.5 0.1 0.1\n");
    EXPECT_EQ(zor::tools::readTextFile(file, 18, "label file"), "0 0.5 0.5 0.1 0.1\n");
    const auto sparse = folder.path() / "large.txt";
    zor::test::writeFile(sparse, "");
    std::filesystem::resize_file(sparse, zor::tools::kMaxTextInputBytes + 1);
    for (const auto& [path, bound] :
         std::vector<std::pair<std::filesystem::path, std::size_t>>{{file, 17},
                                                                    {sparse, zor::tools::kMaxTextInputBytes},
                                                                    {"/dev/zero", 1024},
                                                                    {folder.path(), 1024},
                                                                    {folder.path() / "missing.txt", 1024}}) {
        try {
            zor::tools::readTextFile(path, bound, "label file");
            ADD_FAILURE() << "read " << path;
        } catch (const zor::tools::UserError& error) {
            EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos) << error.what();
        }
    }
}

TEST(OutputPaths, AreCheckedBeforeARun) {
    const zor::test::ScratchFolder folder;
    const auto file = folder.path() / "file.txt";
    zor::test::writeFile(file, "x");
    EXPECT_NO_THROW(zor::tools::checkOutputFile(folder.path() / "new.json", "JSON file"));
    EXPECT_NO_THROW(zor::tools::checkOutputFile(file, "JSON file"));
    for (const auto& path : {folder.path(), folder.path() / "missing" / "a.json", file / "a.json"}) {
        EXPECT_THROW(zor::tools::checkOutputFile(path, "JSON file"), zor::tools::UserError) << path;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "new.json")) << "a check writes nothing";
    zor::tools::checkOutputFolder(folder.path() / "curves", "curves folder");
    EXPECT_TRUE(std::filesystem::is_directory(folder.path() / "curves"));
    EXPECT_THROW(zor::tools::checkOutputFolder(file, "curves folder"), zor::tools::UserError);
}

}  // namespace
