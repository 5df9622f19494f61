#include "TestSupport.h"
#include "hive/OfflineHive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// Starts the quern-reg program with only the environment given, as a script would, behind wrapper
// (strace and its arguments) when one is given; its output goes to work/NAME.out and NAME.err.
pid_t startProgram(const std::vector<std::string>& args, const std::vector<std::string>& environment,
    const test::TempDir& work, const std::string& input = "", const std::string& outPath = "",
    const std::vector<std::string>& wrapper = {}, const std::string& name = "") {
    test::writeFile(work / (name + "in"), input);
    std::vector<std::string> argStrings = wrapper;
    argStrings.push_back(QUERN_REG_PROGRAM);
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
        const int in = ::open((work / (name + "in")).c_str(), O_RDONLY);
        const std::string outFile = outPath.empty() ? work / (name + "out") : outPath;
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open((work / (name + "err")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

ProgramRun waitForProgram(pid_t pid, const test::TempDir& work, const std::string& name = "") {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return { WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::readFile(work / (name + "out")),
        test::readFile(work / (name + "err")) };
}

ProgramRun runProgram(const std::vector<std::string>& args, const std::vector<std::string>& environment,
    const test::TempDir& work, const std::string& input = "", const std::string& outPath = "") {
    return waitForProgram(startProgram(args, environment, work, input, outPath), work);
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
    const ProgramRun add = runProgram(
        { "add", "HKCU\\Software\\Cli", "/v", "x", "/d", "y", "/f" }, environment(true), work, "", "/dev/full");
    EXPECT_EQ(add.code, 0) << add.err;
    EXPECT_EQ(add.err, "quern-reg: the command succeeded, but its report could not be written.\n");
    EXPECT_NE(test::readFile(prefix / "user.reg").find("\n\"x\"=\"y\"\n"), std::string::npos);
    const ProgramRun query = runProgram({ "query", "HKCU\\Software\\Cli" }, environment(true), work, "", "/dev/full");
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
    ASSERT_EQ(reg::writeEmptyHive(hive), reg::Status::Ok);
    // Without a Wine prefix: the hive alone, in a registry that keeps nothing else.
    const ProgramRun add = runProgram(
        { "/hive", "SYS=" + hive, "add", "HKLM\\SYS\\Select", "/v", "Current", "/t", "REG_DWORD", "/d", "1", "/f" },
        environment(false), work);
    ASSERT_EQ(add.code, 0) << add.err;
    EXPECT_FALSE(test::fileExists(home.path() + "/data/quern/registry/system.reg")) << "no registry of its own is made";
    const ProgramRun query
        = runProgram({ "-HIVE", "HKLM\\SYS=" + hive, "query", "HKLM\\SYS\\Select" }, environment(false), work);
    ASSERT_EQ(query.code, 0) << query.err;
    EXPECT_EQ(query.out, "\nHKEY_LOCAL_MACHINE\\SYS\\Select\n    Current    REG_DWORD    0x1\n\n");
    const ProgramRun outside
        = runProgram({ "/hive", "SYS=" + hive, "add", "HKLM\\Software\\X", "/f" }, environment(false), work);
    EXPECT_EQ(outside.code, 1);
    EXPECT_NE(outside.err.find("only the loaded hives can be changed"), std::string::npos) << outside.err;

    // Beside a Wine prefix, below HKEY_USERS.
    test::copySamplePrefix(prefix.path());
    const std::string user = work / "NTUSER.DAT";
    ASSERT_EQ(reg::writeEmptyHive(user), reg::Status::Ok);
    const ProgramRun both = runProgram({ "/hive", "SYS=" + hive, "/hive", "HKU\\Offline=" + user, "copy",
                                           "HKLM\\SYS\\Select", "HKU\\Offline\\Copied", "/s", "/f" },
        environment(true), work);
    ASSERT_EQ(both.code, 0) << both.err;
    const ProgramRun copied
        = runProgram({ "/hive", "HKU\\Offline=" + user, "query", "HKU\\Offline\\Copied" }, environment(true), work);
    EXPECT_NE(copied.out.find("Current    REG_DWORD    0x1"), std::string::npos) << copied.out << copied.err;

    const ProgramRun bad
        = runProgram({ "/hive", "SYS=" + work / "in", "query", "HKLM\\SYS" }, environment(false), work);
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.err.find("is not a registry hive"), std::string::npos) << bad.err;
    const ProgramRun malformed = runProgram({ "/hive", "SYS", "query", "HKLM" }, environment(false), work);
    EXPECT_EQ(malformed.code, 1);
    EXPECT_NE(malformed.err.find("NAME=FILE"), std::string::npos) << malformed.err;
}

// prefixes lists the registries of the home folder for a script, one a line, its fields escaped
// so that a tab in a game's name cannot make a fourth; what cannot be read goes to standard error.
TEST_F(ProgramTest, ListsTheRegistriesOfTheHomeFolder) {
    test::copySamplePrefix(prefix.path());
    const std::string& h = home.path();
    const std::string game = h + "/.local/share/Steam/steamapps/compatdata/220/pfx";
    std::filesystem::create_directories(game);
    test::copySamplePrefix(game);
    test::writeFile(h + "/.local/share/Steam/steamapps/appmanifest_220.acf",
        "\"AppState\" { \"appid\" \"220\" \"name\" \"Half-Life\\t2\\\\Episode\" }");
    std::filesystem::create_directories(h + "/.wine");
    test::writeFile(h + "/.wine/system.reg", "WINE REGISTRY Version 2\n");
    std::filesystem::create_directories(h + "/.config/lutris/games");
    test::writeFile(h + "/.config/lutris/games/bad.yml", "game: {\n");

    const ProgramRun list = runProgram({ "PREFIXES" }, environment(true), work);
    EXPECT_EQ(list.code, 0) << list.err;
    EXPECT_EQ(list.out,
        prefix.path() + "\tWine (WINEPREFIX)\t" + prefix.path() + "\n" + "~/.wine\tWine\t" + h + "/.wine\n"
            + "Half-Life\\t2\\\\Episode\tSteam\t" + game + "\n");
    EXPECT_TRUE(list.err.starts_with(
        "quern-reg: note: " + h + "/.config/lutris/games/bad.yml: is not what it should be: line "))
        << list.err;
    EXPECT_EQ(std::count(list.err.begin(), list.err.end(), '\n'), 1) << list.err;
    const ProgramRun full = runProgram({ "prefixes" }, environment(true), work, "", "/dev/full");
    EXPECT_EQ(full.code, 1) << "the list is all the command gives";
    EXPECT_TRUE(full.err.ends_with("quern-reg: the output could not be written.\n")) << full.err;
    const ProgramRun extra = runProgram({ "prefixes", "/s" }, environment(false), work);
    EXPECT_EQ(extra.code, 1);
    EXPECT_TRUE(extra.err.starts_with("quern-reg: '/s' is not a switch of prefixes.\n")) << extra.err;
}

// /prefix works on any prefix, whatever WINEPREFIX says, beside loaded hives; a folder that is no
// prefix is refused before anything is made.
TEST_F(ProgramTest, APrefixGivenBeforeTheCommandIsTheOneItWorksOn) {
    test::copySamplePrefix(prefix.path());
    const std::string& h = home.path();
    const std::string game = h + "/.local/share/Steam/steamapps/compatdata/220/pfx";
    std::filesystem::create_directories(game);
    test::copySamplePrefix(game);
    const std::string wineUser = test::readFile(prefix / "user.reg");
    const ProgramRun add = runProgram(
        { "/prefix", game, "/hive", "SYS=" + work / "none", "add", "HKCU\\Software\\Game", "/v", "x", "/d", "y", "/f" },
        environment(true), work);
    EXPECT_EQ(add.code, 1) << "a hive that cannot be loaded stops the command: " << add.err;
    const ProgramRun added = runProgram(
        { "-Prefix", game, "add", "HKCU\\Software\\Game", "/v", "x", "/d", "y", "/f" }, environment(true), work);
    EXPECT_EQ(added.code, 0) << added.err;
    EXPECT_NE(test::readFile(game + "/user.reg").find("\n\"x\"=\"y\"\n"), std::string::npos);
    EXPECT_EQ(test::readFile(prefix / "user.reg"), wineUser) << "the prefix of WINEPREFIX is left alone";

    const std::string hive = work / "SYSTEM";
    ASSERT_EQ(reg::writeEmptyHive(hive), reg::Status::Ok);
    const ProgramRun both = runProgram(
        { "/hive", "SYS=" + hive, "/prefix", game, "copy", "HKCU\\Software\\Game", "HKLM\\SYS\\Game", "/f" },
        environment(false), work);
    EXPECT_EQ(both.code, 0) << both.err;
    const ProgramRun query
        = runProgram({ "/hive", "SYS=" + hive, "query", "HKLM\\SYS\\Game" }, environment(false), work);
    EXPECT_NE(query.out.find("    x    REG_SZ    y\n"), std::string::npos) << query.out << query.err;

    const std::vector<std::pair<std::vector<std::string>, std::string>> refused {
        { { "/prefix", h, "query", "HKLM" },
            "quern-reg: " + h + " is not a Wine prefix: it holds no system.reg or user.reg.\n" },
        { { "/prefix", h + "/gone", "query", "HKLM" }, "quern-reg: The Wine prefix " + h + "/gone does not exist.\n" },
        { { "/prefix", game, "/prefix", game, "query", "HKLM" }, "quern-reg: /prefix is given twice.\n" },
        { { "/prefix" }, "quern-reg: /prefix needs the folder of a Wine prefix.\n" },
        { { "/prefix", game, "prefixes" },
            "quern-reg: prefixes lists the registries there are; /hive and /prefix do not go with it.\n" },
    };
    for (const auto& [args, message] : refused) {
        const ProgramRun run = runProgram(args, environment(false), work);
        EXPECT_EQ(run.code, 1) << args[1];
        EXPECT_EQ(run.err, message);
    }
    EXPECT_FALSE(test::fileExists(h + "/system.reg"));
}

// diff between two prefixes, a hive and files: the changes listed by the left key's path, the file
// of /out imported where the left is gives the right exactly (diff then finds nothing), /reverse
// goes back; a file is read at the other side's key; what cannot be compared is exit code 2.
TEST_F(ProgramTest, DiffListsWhatDiffersAndWritesTheFileThatMakesOneSideTheOther) {
    test::copySamplePrefix(prefix.path());
    const std::string other = work / "other";
    std::filesystem::create_directories(other);
    test::copySamplePrefix(other);
    const std::vector<std::vector<std::string>> changes { { "add", "HKCU\\Software\\Wine\\Diff", "/v", "Name", "/t",
                                                              "REG_MULTI_SZ", "/d", "a\\0b", "/f" },
        { "add", "HKCU\\Software\\Wine\\Fonts", "/v", "LogPixels", "/t", "REG_DWORD", "/d", "120", "/f" },
        { "delete", "HKCU\\Control Panel\\Sound", "/f" },
        { "delete", "HKCU\\Control Panel\\Colors", "/v", "Window", "/f" } };
    for (const auto& change : changes) {
        std::vector<std::string> args { "/prefix", other };
        args.insert(args.end(), change.begin(), change.end());
        ASSERT_EQ(runProgram(args, environment(false), work).code, 0) << change[1];
    }
    const std::string before = test::readFile(prefix / "user.reg");
    const std::string out = work / "changes.reg";
    const ProgramRun listed
        = runProgram({ "diff", "HKCU", "HKCU", "/right", other, "/out", out }, environment(true), work);
    EXPECT_EQ(listed.code, 1) << listed.err;
    EXPECT_EQ(listed.out.substr(listed.out.rfind('\n', listed.out.size() - 2) + 1),
        "1 key added, 1 key deleted, 1 value added, 1 value changed, 1 value deleted.\n")
        << listed.out;
    EXPECT_NE(
        listed.out.find("value changed: HKEY_CURRENT_USER\\Software\\Wine\\Fonts \"LogPixels\""), std::string::npos)
        << listed.out;
    EXPECT_EQ(test::readFile(prefix / "user.reg"), before) << "diff writes nothing to the registry";
    ASSERT_EQ(runProgram({ "import", out }, environment(true), work).code, 0);
    EXPECT_EQ(runProgram({ "diff", "HKCU", "HKCU", "/right", other }, environment(true), work).out, "No changes.\n");

    // The reverse file, made from the other prefix's side, takes the change back out of it.
    const std::string back = work / "back.reg";
    const std::string original = work / "original";
    std::filesystem::create_directories(original);
    test::copySamplePrefix(original);
    EXPECT_EQ(runProgram({ "/prefix", other, "diff", "HKCU", "HKCU", "/left", original, "/reverse", "/out", back },
                  environment(false), work)
                  .code,
        1);
    ASSERT_EQ(runProgram({ "/prefix", other, "import", back }, environment(false), work).code, 0);
    EXPECT_EQ(
        runProgram({ "diff", "HKCU", "HKCU", "/left", original, "/right", other }, environment(false), work).code, 0);

    // Keys at different paths, a hive on one side, and files.
    const std::string hive = work / "SOFT";
    ASSERT_EQ(reg::writeEmptyHive(hive), reg::Status::Ok);
    ASSERT_EQ(runProgram({ "/hive", "SOFT=" + hive, "copy", "HKCU\\Software\\Wine", "HKLM\\SOFT\\Wine", "/s", "/f" },
                  environment(true), work)
                  .code,
        0);
    EXPECT_EQ(
        runProgram({ "diff", "HKCU\\Software\\Wine", "HKLM\\SOFT\\Wine", "/right", hive }, environment(true), work).out,
        "No changes.\n");
    const std::string exported = work / "wine.reg";
    ASSERT_EQ(runProgram({ "export", "HKCU\\Software\\Wine", exported, "/y" }, environment(true), work).code, 0);
    EXPECT_EQ(runProgram({ "diff", exported, "HKCU\\Software\\Wine" }, environment(true), work).out, "No changes.\n");
    EXPECT_EQ(runProgram({ "diff", exported, back }, environment(true), work).code, 1);
    // An export writes what a link leads to below its name; against the registry it was taken of,
    // that is no difference (the sample's HKLM has links: CurrentControlSet and others).
    const std::string machine = work / "machine.reg";
    ASSERT_EQ(runProgram({ "export", "HKLM", machine, "/y" }, environment(true), work).code, 0);
    EXPECT_EQ(runProgram({ "diff", machine, "HKLM" }, environment(true), work).out, "No changes.\n");

    const std::vector<std::pair<std::vector<std::string>, std::string>> refused {
        { { "diff", "HKCU" }, "quern-reg: diff needs two sides, each a key or a registry file.\n" },
        { { "diff", "HKCU\\Software\\Wine", "HKCU\\Software\\Wien" },
            "quern-reg: HKEY_CURRENT_USER\\Software\\Wien is not there to compare.\n" },
        { { "diff", exported, "HKCU\\Control Panel" },
            "quern-reg: " + exported + " holds no HKEY_CURRENT_USER\\Control Panel, so it is not there to compare.\n" },
        { { "diff", exported, "HKCU", "/left", other },
            "quern-reg: /left names the registry of a key, and " + exported + " is a file.\n" },
        { { "diff", "HKCU", "HKCU", "/right", work / "none" },
            "quern-reg: " + (work / "none") + ": No such file or directory.\n" },
    };
    for (const auto& [args, message] : refused) {
        const ProgramRun run = runProgram(args, environment(true), work);
        EXPECT_EQ(run.code, 2) << args[1];
        EXPECT_EQ(run.err.substr(0, message.size()), message);
    }
}

namespace {

constexpr const char* kStrace = "/usr/bin/strace";

// strace holding every fsync of the program for the time given: the moment between a write's
// last look at the file and its rename, stretched for another program to act in.
std::vector<std::string> fsyncDelayed(const char* microseconds) {
    return { kStrace, "-f", "-o", "/dev/null", "-e", "trace=fsync", "-e",
        std::string("inject=fsync:delay_enter=") + microseconds };
}

// Waits until a write of the prefix has its temporary file beside user.reg.
bool writeUnderWay(const std::string& prefix) {
    for (int i = 0; i < 1000; ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(prefix))
            if (entry.path().filename().string().starts_with(".user.reg.quern-")) return true;
        ::usleep(10000);
    }
    return false;
}

} // namespace

// Other programs at the moment a write is held at its flush: one that saves its own copy of the
// file as editors do (renamed over it) keeps its file and the write fails; another quern-reg waits
// for the first and both changes arrive. And a file whose blocks are out of order (a script wrote
// it) is read about once for a write, not once for every block.
TEST_F(ProgramTest, WritesHeldAtTheirFlushMeetOtherProgramsSafely) {
    if (::access(kStrace, X_OK) != 0) GTEST_SKIP() << "needs strace";
    test::copySamplePrefix(prefix.path());
    const std::string user = prefix / "user.reg";
    const std::string theirs = test::readFile(user) + ";; saved by another program\n";
    pid_t held = startProgram({ "add", "HKCU\\Software\\Race", "/v", "A", "/d", "one", "/f" }, environment(true), work,
        "", "", fsyncDelayed("1500000"), "held.");
    ASSERT_TRUE(writeUnderWay(prefix.path()));
    test::writeFile(work / "theirs.reg", theirs);
    std::filesystem::rename(work / "theirs.reg", user);
    const ProgramRun lost = waitForProgram(held, work, "held.");
    EXPECT_EQ(lost.code, 1) << lost.out;
    EXPECT_NE(lost.err.find("user.reg was changed on disk while Quern wrote it"), std::string::npos) << lost.err;
    EXPECT_TRUE(test::readFile(user) == theirs);

    held = startProgram({ "add", "HKCU\\Software\\Race", "/v", "A", "/d", "one", "/f" }, environment(true), work, "",
        "", fsyncDelayed("500000"), "held.");
    ASSERT_TRUE(writeUnderWay(prefix.path()));
    const ProgramRun second
        = runProgram({ "add", "HKCU\\Software\\Race", "/v", "B", "/d", "two", "/f" }, environment(true), work);
    EXPECT_EQ(second.code, 0) << second.err;
    EXPECT_EQ(waitForProgram(held, work, "held.").code, 0);
    const std::string both = test::readFile(user);
    EXPECT_NE(both.find("\"A\"=\"one\"\n\"B\"=\"two\"\n"), std::string::npos) << both.substr(both.find("Race"), 100);

    // What a write of one value to system.reg reads of the old file: in the order Wine writes
    // it, a few windows; in a shuffled order, about each block once.
    auto readsOfAWrite = [&](const char* value, std::uint64_t& bytes) {
        const ProgramRun counted = waitForProgram(
            startProgram({ "add", "HKLM\\Software\\Counted", "/v", value, "/d", "y", "/f" }, environment(true), work,
                "", "", { kStrace, "-f", "-o", work / "reads", "-e", "trace=pread64" }, "counted."),
            work, "counted.");
        EXPECT_EQ(counted.code, 0) << counted.err;
        std::istringstream reads(test::readFile(work / "reads"));
        std::size_t calls = 0;
        bytes = 0;
        for (std::string line; std::getline(reads, line);)
            if (const auto equals = line.rfind("= ");
                line.find("pread64(") != std::string::npos && equals != std::string::npos) {
                bytes += std::strtoull(line.c_str() + equals + 2, nullptr, 10);
                ++calls;
            }
        return calls;
    };
    const std::string system = test::readFile(prefix / "system.reg");
    std::uint64_t bytes = 0;
    EXPECT_LT(readsOfAWrite("sorted", bytes), 40u);
    EXPECT_GE(bytes, system.size() * 9 / 10);
    EXPECT_LE(bytes, system.size() * 11 / 10);

    std::vector<std::string> blocks;
    const std::string sorted = test::readFile(prefix / "system.reg");
    const std::size_t first = sorted.find("\n\n[");
    for (std::size_t at = first + 2; at < sorted.size();) {
        const std::size_t next = sorted.find("\n\n[", at);
        blocks.push_back(sorted.substr(at, (next == std::string::npos ? sorted.size() : next + 1) - at));
        at = next == std::string::npos ? sorted.size() : next + 2;
    }
    std::mt19937 random(26);
    std::shuffle(blocks.begin(), blocks.end(), random);
    std::string shuffled = sorted.substr(0, first + 1);
    for (const auto& block : blocks)
        shuffled += "\n" + block + (block.ends_with('\n') ? "" : "\n");
    test::writeFile(prefix / "system.reg", shuffled);
    (void)readsOfAWrite("shuffled", bytes);
    EXPECT_GT(bytes, shuffled.size() / 2);
    EXPECT_LT(bytes, shuffled.size() * 3 / 2) << blocks.size() << " blocks";
}

// Export writes regular files only (a FIFO, a device, or a link to one stays what it is) and
// "-" is standard output; import and compare read regular files only, and say why not.
TEST_F(ProgramTest, ExportAndImportTakeRegularFilesAndStandardOutput) {
    test::copySamplePrefix(prefix.path());
    const std::string fonts = "HKCU\\Software\\Wine\\Fonts";
    ASSERT_EQ(::mkfifo((work / "fifo").c_str(), 0600), 0);
    std::vector<std::string> specials { work / "fifo" };
    if (::mknod((work / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) specials.push_back(work / "full");
    for (const std::string& special : specials) {
        const ProgramRun refused = runProgram({ "export", fonts, special, "/y" }, environment(true), work);
        EXPECT_EQ(refused.code, 1);
        EXPECT_NE(refused.err.find("not a regular file"), std::string::npos) << refused.err;
        struct stat st { };
        EXPECT_TRUE(::lstat(special.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) << special;
    }
    const ProgramRun toFile = runProgram({ "export", fonts, work / "fonts.reg" }, environment(true), work);
    ASSERT_EQ(toFile.code, 0) << toFile.err;
    const ProgramRun toOutput = runProgram({ "export", fonts, "-" }, environment(true), work);
    ASSERT_EQ(toOutput.code, 0) << toOutput.err;
    EXPECT_TRUE(toOutput.out == test::readFile(work / "fonts.reg"));
    EXPECT_FALSE(test::fileExists(work / "-"));

    const std::string user = test::readFile(prefix / "user.reg");
    for (const auto& [file, why] :
        std::vector<std::pair<std::string, std::string>> { { "/dev/zero", "is a character device, not a regular file" },
            { work / "fifo", "is a FIFO" }, { "/proc/self/mem", "cannot be read (Input/output error)" } }) {
        const ProgramRun import = runProgram({ "import", file }, environment(true), work);
        EXPECT_EQ(import.code, 1) << file;
        EXPECT_NE(import.err.find(file + " " + why), std::string::npos) << import.err;
        EXPECT_EQ(runProgram({ "compare", file }, environment(true), work).code, 2) << file;
    }
    EXPECT_TRUE(test::readFile(prefix / "user.reg") == user);
}
