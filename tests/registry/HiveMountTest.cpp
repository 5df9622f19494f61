#include "registry/HiveMount.h"

#include <gtest/gtest.h>

using namespace quern;

// The window's --hive and quern-reg's /hive both read NAME=FILE through this parser: what it takes
// lands below its root, and what it refuses is BadPath with the sentence the user is shown.
TEST(HiveMount, NameEqualsFileIsTakenAndAnythingElseRefusedInTheUsersWords) {
    struct Taken {
        const char* text;
        reg::HKey at;
        const char* name;
        const char* file;
    };
    for (const Taken& t : { Taken { "SYS=/h/SYSTEM", reg::kLocalMachine, "SYS", "/h/SYSTEM" },
             Taken { "hklm\\Soft=a=b", reg::kLocalMachine, "Soft", "a=b" },
             Taken { "HKEY_USERS\\Offline=NTUSER.DAT", reg::kUsers, "Offline", "NTUSER.DAT" } }) {
        HiveMount mount;
        ASSERT_EQ(parseHiveMount(t.text, mount), reg::Status::Ok) << t.text;
        EXPECT_EQ(mount.at, t.at) << t.text;
        EXPECT_EQ(mount.name, t.name);
        EXPECT_EQ(mount.file, t.file);
    }
    const std::string notNameFile = "A hive is given as NAME=FILE, not ";
    const std::string tooDeep = "A hive is loaded directly below HKEY_LOCAL_MACHINE or HKEY_USERS, not as ";
    for (const auto& [text, message] : { std::pair<std::string, std::string> { "SYS", notNameFile + "\"SYS\"." },
             { "=file", notNameFile + "\"=file\"." }, { "SYS=", notNameFile + "\"SYS=\"." },
             { "", notNameFile + "\"\"." }, { "HKLM\\A\\B=f", tooDeep + "\"A\\B\"." },
             { "HKU\\=f", tooDeep + "\"HKU\\\"." } }) {
        HiveMount mount;
        const reg::Status parsed = parseHiveMount(text, mount);
        EXPECT_EQ(parsed, reg::Status::BadPath) << text;
        EXPECT_EQ(parsed.message(), message);
    }
}
