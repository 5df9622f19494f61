#include "TestSupport.h"
#include "hive/OfflineHive.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace quern;

namespace {

struct ProgramRun {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs the quern-reg program with only the environment given, as a script would.
ProgramRun runProgram(const std::vector<std::string>& args, const std::vector<std::string>& environment,
    const test::TempDir& work, const std::string& input = "", const std::string& outPath = "") {
    test::writeFile(work / "in", input);
    std::vector<std::string> argStrings { QUERN_REG_PROGRAM };
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : argStrings)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = environment;
    std::vector<char*> envp;
    for (auto& entry : envStrings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open((work / "in").c_str(), O_RDONLY);
        const std::string outFile = outPath.empty() ? work / "out" : outPath;
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open((work / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return { WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::readFile(work / "out"), test::readFile(work / "err") };
}

class ProgramTest : public ::testing::Test {
protected:
    std::vector<std::string> environment(bool withPrefix) const {
        std::vector<std::string> env { "HOME=" + home.path(), "XDG_DATA_HOME=" + home.path() + "/data",
            "TMPDIR=" + work.path() };
        if (withPrefix) env.push_back("WINEPREFIX=" + prefix.path());
        return env;
    }

    test::TempDir prefix;
    test::TempDir home;
    test::TempDir work;
};

} // namespace

TEST_F(ProgramTest, ReadsAndWritesThePrefixThatWineprefixNames) {
    test::copySamplePrefix(prefix.path());
    const ProgramRun query
        = runProgram({ "query", "HKCU\\Software\\Wine\\Fonts", "/v", "LogPixels" }, environment(true), work);
    EXPECT_EQ(query.code, 0) << query.err;
    EXPECT_EQ(query.out, "\nHKEY_CURRENT_USER\\Software\\Wine\\Fonts\n    LogPixels    REG_DWORD    0x60\n\n");

    const ProgramRun add = runProgram(
        { "ADD", "HKCU\\Software\\Cli", "-v", "x", "-t", "reg_dword", "-d", "0x10", "-f" }, environment(true), work);
    EXPECT_EQ(add.code, 0) << add.err;
    EXPECT_EQ(add.out, "The operation completed successfully.\n");
    const std::string user = test::readFile(prefix / "user.reg");
    EXPECT_NE(user.find("\n[Software\\\\Cli] "), std::string::npos);
    EXPECT_NE(user.find("\n\"x\"=dword:00000010\n"), std::string::npos);

    const ProgramRun missing = runProgram({ "query", "HKCU\\Software\\Nope" }, environment(true), work);
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("does not exist"), std::string::npos);
}

TEST_F(ProgramTest, AQuestionWithoutATerminalFailsAndNamesTheSwitchThatAnswersIt) {
    test::copySamplePrefix(prefix.path());
    const std::string fonts = "HKCU\\Software\\Wine\\Fonts";
    ASSERT_EQ(runProgram({ "add", "HKCU\\Software\\Copy", "/v", "LogPixels", "/t", "REG_DWORD", "/d", "1", "/f" },
                  environment(true), work)
                  .code,
        0);
    const std::string user = test::readFile(prefix / "user.reg");
    const std::string backup = work / "backup.reg";
    test::writeFile(backup, "earlier backup");
    test::writeFile(work / "fonts.qks", "HKEY_CURRENT_USER\\Software\\Wine\\Fonts\r\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> asking {
        { { "add", fonts, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "1" }, "/f" },
        { { "delete", fonts }, "/f" },
        { { "delete", fonts, "/v", "LogPixels" }, "/f" },
        { { "copy", fonts, "HKCU\\Software\\Copy" }, "/f" },
        { { "export", fonts, backup }, "/y" },
        { { "export", "--selection", work / "fonts.qks", backup }, "/y" },
    };
    for (const auto& [args, yes] : asking) {
        // Standard input is a file here, as in a script or a scheduled job, even with a yes in it.
        const ProgramRun run = runProgram(args, environment(true), work, "y\n");
        EXPECT_EQ(run.code, 1) << args[0];
        EXPECT_TRUE(run.err.starts_with("quern-reg: ")) << run.err;
        EXPECT_TRUE(run.err.ends_with("? It cannot be asked: standard input is not a terminal. Add " + yes
            + " to answer yes. Nothing was changed.\n"))
            << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(test::readFile(prefix / "user.reg"), user);
    EXPECT_EQ(test::readFile(backup), "earlier backup");

    const ProgramRun answered = runProgram({ "export", fonts, backup, "/y" }, environment(true), work);
    EXPECT_EQ(answered.code, 0) << answered.err;
    EXPECT_TRUE(test::readFile(backup).starts_with(std::string("\xFF\xFEW\0i\0", 6)));
}

// With standard output on a full disk, a change that reached the registry is still a success,
// while a query, whose output is all it does, fails.
TEST_F(ProgramTest, AReportThatCannotBeWrittenFailsOnlyWhatHadNothingElseToDo) {
    test::copySamplePrefix(prefix.path());
    const ProgramRun add = runProgram({ "add", "HKCU\\Software\\Cli", "/v", "x", "/d", "y", "/f" }, environment(true),
        work, "", "/dev/full");
    EXPECT_EQ(add.code, 0) << add.err;
    EXPECT_EQ(add.err, "quern-reg: the command succeeded, but its report could not be written.\n");
    EXPECT_NE(test::readFile(prefix / "user.reg").find("\n\"x\"=\"y\"\n"), std::string::npos);
    const ProgramRun query
        = runProgram({ "query", "HKCU\\Software\\Cli" }, environment(true), work, "", "/dev/full");
    EXPECT_EQ(query.code, 1);
    EXPECT_EQ(query.err, "quern-reg: the output could not be written.\n");
}

TEST_F(ProgramTest, APrefixThatIsNotThereIsAnError) {
    std::vector<std::string> env = environment(false);
    env.push_back("WINEPREFIX=" + prefix.path() + "/missing");
    const ProgramRun run = runProgram({ "query", "HKLM" }, env, work);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "quern-reg: The Wine prefix " + prefix.path() + "/missing does not exist.\n");
    EXPECT_FALSE(test::fileExists(prefix / "missing"));
}

TEST_F(ProgramTest, HelpAndBadArgumentsNeedNoRegistry) {
    const ProgramRun help = runProgram({ "/?" }, environment(false), work);
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Usage: quern-reg"), std::string::npos);
    const ProgramRun bad = runProgram({ "query", "HKLM", "/bogus" }, environment(false), work);
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.err.find("Usage: quern-reg query"), std::string::npos);
    EXPECT_FALSE(test::fileExists(home / "data/quern")) << "Quern's own registry is made only when it is used";

    const ProgramRun own = runProgram({ "query", "HKLM\\Software" }, environment(false), work);
    EXPECT_EQ(own.code, 0) << own.err;
    EXPECT_NE(own.out.find("HKEY_LOCAL_MACHINE\\Software\\Classes\n"), std::string::npos);
    EXPECT_TRUE(test::fileExists(home / "data/quern/registry/system.reg"));
}

TEST_F(ProgramTest, AHiveGivenBeforeTheCommandIsLoadedForItAndWrittenInPlace) {
    const std::string hive = work / "SYSTEM";
    std::string error;
    ASSERT_TRUE(reg::writeEmptyHive(hive, error)) << error;
    // Without a Wine prefix: the hive alone, in a registry that keeps nothing else.
    const ProgramRun add = runProgram({ "/hive", "SYS=" + hive, "add", "HKLM\\SYS\\Select", "/v", "Current", "/t",
                                          "REG_DWORD", "/d", "1", "/f" },
        environment(false), work);
    ASSERT_EQ(add.code, 0) << add.err;
    EXPECT_FALSE(test::fileExists(home.path() + "/data/quern/registry/system.reg")) << "no registry of its own is made";
    const ProgramRun query = runProgram({ "-HIVE", "HKLM\\SYS=" + hive, "query", "HKLM\\SYS\\Select" }, environment(false), work);
    ASSERT_EQ(query.code, 0) << query.err;
    EXPECT_EQ(query.out, "\nHKEY_LOCAL_MACHINE\\SYS\\Select\n    Current    REG_DWORD    0x1\n\n");
    const ProgramRun outside
        = runProgram({ "/hive", "SYS=" + hive, "add", "HKLM\\Software\\X", "/f" }, environment(false), work);
    EXPECT_EQ(outside.code, 1);
    EXPECT_NE(outside.err.find("only the loaded hives can be changed"), std::string::npos) << outside.err;

    // Beside a Wine prefix, below HKEY_USERS.
    test::copySamplePrefix(prefix.path());
    const std::string user = work / "NTUSER.DAT";
    ASSERT_TRUE(reg::writeEmptyHive(user, error)) << error;
    const ProgramRun both = runProgram({ "/hive", "SYS=" + hive, "/hive", "HKU\\Offline=" + user, "copy",
                                           "HKLM\\SYS\\Select", "HKU\\Offline\\Copied", "/s", "/f" },
        environment(true), work);
    ASSERT_EQ(both.code, 0) << both.err;
    const ProgramRun copied
        = runProgram({ "/hive", "HKU\\Offline=" + user, "query", "HKU\\Offline\\Copied" }, environment(true), work);
    EXPECT_NE(copied.out.find("Current    REG_DWORD    0x1"), std::string::npos) << copied.out << copied.err;

    const ProgramRun bad = runProgram({ "/hive", "SYS=" + work / "in", "query", "HKLM\\SYS" }, environment(false), work);
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.err.find("is not a registry hive"), std::string::npos) << bad.err;
    const ProgramRun malformed = runProgram({ "/hive", "SYS", "query", "HKLM" }, environment(false), work);
    EXPECT_EQ(malformed.code, 1);
    EXPECT_NE(malformed.err.find("NAME=FILE"), std::string::npos) << malformed.err;
}
