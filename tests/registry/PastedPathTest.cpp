#include "registry/PastedPath.h"

#include <gtest/gtest.h>

using namespace quern;

// Every form a path arrives in from other editors, .reg files, shells, source code and web pages
// gives the path the tree names; text that names no root is refused with a sentence saying why.
TEST(PastedPath, EveryCommonFormGivesTheTreePath) {
    const std::string wine = "HKEY_LOCAL_MACHINE\\Software\\Wine";
    const struct {
        const char* text;
        std::string path;
    } cases[] = {
        { "HKEY_LOCAL_MACHINE\\Software\\Wine", wine },
        { "HKLM\\Software\\Wine", wine },
        { "hklm\\Software\\Wine", wine },
        { "hkey_local_machine\\Software\\Wine\\", wine },
        { "  \tHKLM\\Software\\Wine \r\n", wine },
        { "Computer\\HKEY_LOCAL_MACHINE\\Software\\Wine", wine },
        { "My Computer\\HKLM\\Software\\Wine", wine },
        { "[HKEY_LOCAL_MACHINE\\Software\\Wine]", wine },
        { "[-HKEY_LOCAL_MACHINE\\Software\\Wine]", wine },
        { "\"HKLM\\Software\\Wine\"", wine },
        { "'[HKLM\\Software\\Wine]'", wine },
        { "\"HKLM\\\\Software\\\\Wine\"", wine },
        { "HKLM:\\Software\\Wine", wine },
        { "Registry::HKEY_LOCAL_MACHINE\\Software\\Wine", wine },
        { "Microsoft.PowerShell.Core\\Registry::HKLM\\Software\\Wine", wine },
        { "HKCU", "HKEY_CURRENT_USER" },
        { "HKU\\.Default", "HKEY_USERS\\.Default" },
        { "HKCR\\.txt", "HKEY_CLASSES_ROOT\\.txt" },
        { "HKCC\\System", "HKEY_CURRENT_CONFIG\\System" },
        { "HKDD", "HKEY_DYN_DATA" },
        // Names keep what they hold: slashes, inner spaces, brackets, non-ASCII.
        { "HKCU\\Software\\a/b\\ name with  spaces \\[x]",
            "HKEY_CURRENT_USER\\Software\\a/b\\ name with  spaces \\[x]" },
        { "HKCU\\Software\\Čeština", "HKEY_CURRENT_USER\\Software\\Čeština" },
    };
    for (const auto& c : cases) {
        std::string path = "unchanged";
        EXPECT_TRUE(parsePastedKeyPath(c.text, path).ok()) << c.text;
        EXPECT_EQ(path, c.path) << c.text;
    }
    for (const char* bad : { "", "   ", "Software\\Wine", "HKEY_LOCAL\\Software", "[]", "\"\"", "C:\\Windows" }) {
        std::string path = "unchanged";
        const reg::Status status = parsePastedKeyPath(bad, path);
        EXPECT_EQ(status, reg::Status::BadPath) << bad;
        EXPECT_NE(status.message().find("is not a key path"), std::string::npos) << bad;
        EXPECT_EQ(path, "unchanged") << bad;
    }
}

TEST(PastedPath, MissingPartIsWhatTheTreeCouldNotReach) {
    EXPECT_EQ(
        missingPart("HKEY_LOCAL_MACHINE\\Software\\Gone\\Deeper", "HKEY_LOCAL_MACHINE\\SOFTWARE"), "Gone\\Deeper");
    EXPECT_EQ(missingPart("HKEY_LOCAL_MACHINE\\Software", "HKEY_LOCAL_MACHINE\\SOFTWARE"), "");
    EXPECT_EQ(missingPart("HKEY_LOCAL_MACHINE\\Software", ""), "HKEY_LOCAL_MACHINE\\Software");
}
