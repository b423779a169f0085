#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using zor::tools::Arguments;
using zor::tools::OptionTable;
using zor::tools::UserError;

const OptionTable kTable{{"model", "frames", "threshold"}, {"optimize"}, 1};

Arguments parse(std::vector<const char*> args, const OptionTable& table = kTable) {
    args.insert(args.begin(), "tool");
    return Arguments::parse(static_cast<int>(args.size()), args.data(), table);
}

TEST(CommandLine, ReadsEqualsAndSpaceFormsFlagsAndOnePositional) {
    const Arguments arguments = parse({"input.mp4", "--model=/m", "-frames", "7", "--optimize"});
    EXPECT_EQ(arguments.text("model"), "/m");
    EXPECT_EQ(arguments.number("frames", 0, 0, 100), 7);
    EXPECT_TRUE(arguments.flag("optimize"));
    EXPECT_EQ(arguments.positional(), std::vector<std::string>{"input.mp4"});
    EXPECT_FALSE(arguments.helpRequested());

    EXPECT_FALSE(parse({"--optimize=false"}).flag("optimize"));
    EXPECT_EQ(parse({}).text("model", "fallback"), "fallback");
    EXPECT_FLOAT_EQ(parse({}).number("threshold", 0.6f, 0.0f, 1.0f), 0.6f);
    EXPECT_FLOAT_EQ(parse({"--threshold", "-0"}).number("threshold", 0.6f, -1.0f, 1.0f), 0.0f);
    for (const char* help : {"--help", "-h", "-?"}) {
        EXPECT_TRUE(parse({help}).helpRequested()) << help;
        EXPECT_TRUE(zor::tools::isHelpArgument(help)) << help;
    }
    for (const char* other : {"help", "-", "--", "-hx", "--help=1", "--model"}) {
        EXPECT_FALSE(zor::tools::isHelpArgument(other)) << other;
    }
}

TEST(CommandLine, RejectsWhatItWouldOtherwiseDropOrMisread) {
    const std::vector<std::vector<const char*>> bad{
        {"--speed", "3"},                 // unknown
        {"--model"},                      // no value
        {"--model", "--frames", "3"},     // an option is not a value
        {"--frames", "1", "--frames=2"},  // twice
        {"a", "b"},                       // a second positional
        {"--optimize=maybe"},
    };
    for (const auto& args : bad) {
        EXPECT_THROW(parse(args), UserError) << args.front();
    }
    EXPECT_THROW(parse({"x"}, OptionTable{{"model"}, {}, 0}), UserError);
}

TEST(CommandLine, NumbersMustBeWholeAndInRange) {
    for (const char* text : {"ten", "5x", "", "1e", "101", "-1"}) {
        const Arguments arguments = parse({"--frames", text});
        EXPECT_THROW(arguments.number("frames", 0, 0, 100), UserError) << text;
    }
    try {
        parse({"--threshold", "1.5"}).number("threshold", 0.6f, 0.0f, 1.0f);
        FAIL() << "1.5 accepted";
    } catch (const UserError& error) {
        EXPECT_STREQ(error.what(), "--threshold must be a number from 0 to 1, not '1.5'");
    }
}

}  // namespace
