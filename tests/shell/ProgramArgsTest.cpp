#include "window/ProgramArgs.h"

#include <gtest/gtest.h>

using namespace quern;

// The command lines a user or a file manager gives, and what each asks for.
TEST(ProgramArgs, OptionsFilesAndMistakes) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(parseProgramArgs(Args { "/home/u/Desktop/fix.reg" }).target, "/home/u/Desktop/fix.reg");
    EXPECT_EQ(parseProgramArgs(Args { "--hive", "SOFT=/x/SOFTWARE", "a.reg" }).target, "a.reg");
    EXPECT_EQ(parseProgramArgs(Args { "--", "-dash.reg" }).target, "-dash.reg");
    EXPECT_EQ(parseProgramArgs(Args { "-" }).target, "-");
    EXPECT_TRUE(parseProgramArgs(Args { "-h" }).help);
    EXPECT_TRUE(parseProgramArgs(Args { "--version" }).version);
    EXPECT_TRUE(parseProgramArgs(Args {}).error.empty());

    EXPECT_EQ(parseProgramArgs(Args { "--frobnicate" }).error, "unknown option '--frobnicate'");
    EXPECT_EQ(parseProgramArgs(Args { "--hive=A=B" }).error, "unknown option '--hive=A=B'");
    EXPECT_EQ(parseProgramArgs(Args { "a.reg", "b.reg" }).error, "one registry or file at a time: 'a.reg' and 'b.reg'");

    // Before Qt has taken its options out, only --help and --version count, wherever they are.
    const ProgramArgs early = textOnlyArgs(Args { "-style", "fusion", "--version", "x.reg" });
    EXPECT_TRUE(early.version);
    EXPECT_FALSE(early.help);
    EXPECT_FALSE(textOnlyArgs(Args { "--", "--help" }).help);
}
