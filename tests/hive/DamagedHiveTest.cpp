#include "TestSupport.h"
#include "codec/Utf.h"
#include "hive/OfflineHive.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Hives damaged in the ways a disk, a crash or another tool damages them, made from a good one the
// test writes, read through the store and through the built quern-reg: each is refused, or read
// and never written, and the file stays byte for byte as it was. hivex itself is the oracle that
// the damage is real: it ends the process, or refuses, on what Quern must catch first.

using namespace quern;
using namespace quern::reg;

namespace {

std::uint32_t le32At(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

void put16(std::string& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xff);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xff);
    if (at < 0x1fc) { // a field of the base block: its checksum follows
        std::uint32_t sum = 0;
        for (std::size_t w = 0; w < 0x1fc; w += 4)
            sum ^= le32At(bytes, w);
        put32(bytes, 0x1fc, sum);
    }
}

// Where the test hive's records are: the root key holds K, which holds the value S (its data in a
// cell of its own) and the subkey Sub. Offsets are of cells, from the start of the file.
struct Layout {
    explicit Layout(const std::string& h) {
        const std::size_t root = at(h, 0x24 - 4, 0);
        k = at(h, at(h, root, 0x1c), 4);
        values = at(h, k, 0x28);
        value = at(h, values, 0);
        data = at(h, value, 0x08);
        list = at(h, k, 0x1c);
        sub = at(h, list, 4);
        security = at(h, k, 0x2c);
    }
    // The cell an offset field of the record in the cell at names.
    static std::size_t at(const std::string& h, std::size_t cell, std::size_t field) {
        return 0x1000 + le32At(h, cell + 4 + field);
    }
    std::size_t k, values, value, data, list, sub, security;
};

struct Ran {
    int code;
    std::string out;
    std::string err;
};

class DamagedHiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(writeEmptyHive(path), Status::Ok);
        MemoryRegistry store;
        ASSERT_EQ(mountHiveFile(store, kLocalMachine, u"T", path), Status::Ok);
        WriteBatch batch(store);
        HKey key = kNoKey;
        ASSERT_EQ(store.createKey(kLocalMachine, u"T\\K\\Sub", Access::Full, kOptionNone, key), Status::Ok);
        ASSERT_EQ(store.openKey(kLocalMachine, u"T\\K", Access::Full, kOptionNone, key), Status::Ok);
        ASSERT_EQ(store.setValue(key, u"S", kRegSz, test::utf16zBytes(u"helloworld")), Status::Ok);
        ASSERT_EQ(batch.finish(), Status::Ok);
        good = test::readFile(path);
        ASSERT_EQ(::unlink((path + ".quern-orig").c_str()), 0);
    }

    // quern-reg run by a shell as a user would run it, on the hive alone; an abort shows as 134.
    Ran quernReg(const std::string& args) const {
        const std::string code = test::run("cd '" + dir.path() + "' && env -i HOME='" + dir.path() + "' XDG_DATA_HOME='"
            + dir.path() + "/data' '" QUERN_REG_PROGRAM "' /hive 'T=" + path + "' " + args + " >'" + dir / "out.txt"
            + "' 2>'" + dir / "err.txt" + "'; echo $?");
        return { std::stoi(code), test::readFile(dir / "out.txt"), test::readFile(dir / "err.txt") };
    }

    // The files beside the hive that a write makes: there must be none after a refused one.
    std::string writtenBeside() const {
        return test::run("ls -a '" + dir.path() + "' | grep -e quern-orig -e '\\.quern-' || true");
    }

    test::TempDir dir;
    std::string path = dir / "SYSTEM";
    std::string good;
};

struct Damage {
    const char* what;
    std::function<void(std::string&, const Layout&)> apply;
    const char* said; // in the read-only reason, and in quern-reg's refusal
};

} // namespace

TEST_F(DamagedHiveTest, WhatHivexWouldAbortOnOrRefuseMakesTheHiveReadOnlyAndItIsNeverWritten) {
    const Layout l(good);
    ASSERT_EQ(good.compare(l.list + 4, 2, "lh"), 0);
    ASSERT_EQ(good.compare(l.security + 4, 2, "sk"), 0);
    // The good hive is writable, through the store and through the program.
    {
        MemoryRegistry store;
        ASSERT_EQ(mountHiveFile(store, kLocalMachine, u"T", path), Status::Ok);
        EXPECT_EQ(store.readOnlyReason(), "");
    }

    const Damage damages[] = {
        { "value data that starts inside a cell",
            [](std::string& h, const Layout& at) {
                put32(h, at.value + 4 + 0x08, static_cast<std::uint32_t>(at.data + 8 - 0x1000));
            },
            "has the data of a value in part of the file" },
        { "a value list in a free cell",
            [](std::string& h, const Layout& at) {
                put32(h, at.values, -static_cast<std::int32_t>(le32At(h, at.values)));
            },
            "has its value list in part of the file" },
        { "a subkey list in a free cell",
            [](std::string& h, const Layout& at) { put32(h, at.list, -static_cast<std::int32_t>(le32At(h, at.list))); },
            "has its subkey list in part of the file" },
        { "a security record chained to no record",
            [](std::string& h, const Layout& at) { put32(h, at.security + 4 + 0x04, 0x0ff0); },
            "has its security record in part of the file" },
        { "a class name that starts inside a cell",
            [](std::string& h, const Layout& at) {
                put32(h, at.k + 4 + 0x30, static_cast<std::uint32_t>(at.data + 8 - 0x1000));
                put16(h, at.k + 4 + 0x4a, 2);
            },
            "has its class name in part of the file" },
        // hivex's writer cannot delete a subkey from a list of this kind.
        { "an li subkey list", [](std::string& h, const Layout& at) { h[at.list + 5] = 'i'; }, "(li)" },
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        std::string bad = good;
        damage.apply(bad, Layout(good));
        test::writeFile(path, bad);
        {
            MemoryRegistry store;
            ASSERT_EQ(mountHiveFile(store, kLocalMachine, u"T", path), Status::Ok);
            EXPECT_NE(store.readOnlyReason().find(damage.said), std::string::npos) << store.readOnlyReason();
            HKey key = kNoKey;
            EXPECT_EQ(
                store.createKey(kLocalMachine, u"T\\K\\New", Access::Full, kOptionNone, key), Status::AccessDenied);
        }
        const Ran add = quernReg("add 'HKLM\\T\\K' /v S /t REG_SZ /d x /f");
        EXPECT_EQ(add.code, 1) << add.err;
        EXPECT_NE(add.err.find(damage.said), std::string::npos) << add.err;
        EXPECT_EQ(test::readFile(path), bad) << "the hive is byte for byte as it was";
        EXPECT_EQ(writtenBeside(), "");
    }

    // The oracle: hivex itself ends the process on the first damage when asked to write the key,
    // and refuses to delete the subkey below the last.
    std::string bad = good;
    damages[0].apply(bad, l);
    test::writeFile(path, bad);
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGABRT, SIG_DFL);
        (void)::freopen("/dev/null", "w", stderr);
        hive_h* h = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
        if (!h) ::_exit(2);
        (void)hivex_node_set_values(h, l.k, 0, nullptr, 0);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT) << status;
    bad = good;
    damages[5].apply(bad, l);
    test::writeFile(path, bad);
    hive_h* h = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(hivex_node_delete_child(h, l.sub), -1);
    hivex_close(h);
}

TEST_F(DamagedHiveTest, NamesAndCountsPastTheirRecordsAndWrongHeadersAreRefusedOrReadOnly) {
    // Set: the hive is refused with these words; else it loads read-only with them.
    struct Case {
        const char* what;
        std::function<void(std::string&, const Layout&)> apply;
        const char* said;
        bool refused;
        const char* leftOut; // the key export names as left out, if any
    };
    const Case cases[] = {
        { "a backslash in a key name", [](std::string& h, const Layout& l) { h[l.sub + 4 + 0x4d] = '\\'; },
            "name the registry does not allow", false, "HKEY_LOCAL_MACHINE\\T\\K\\S\\b" },
        { "a key name past its cell", [](std::string& h, const Layout& l) { put16(h, l.sub + 4 + 0x48, 0x40); },
            "runs past its record", false, "HKEY_LOCAL_MACHINE\\T\\K\\Sub" },
        { "a key name that runs into the NULs after it",
            [](std::string& h, const Layout& l) { put16(h, l.sub + 4 + 0x48, 5); }, "name the registry does not allow",
            false, "HKEY_LOCAL_MACHINE\\T\\K\\Sub" },
        { "a value name past its cell", [](std::string& h, const Layout& l) { put16(h, l.value + 4 + 0x02, 0x40); },
            "a value name of \"K\" runs past its record", true, nullptr },
        { "a value name that runs into the NULs after it",
            [](std::string& h, const Layout& l) { put16(h, l.value + 4 + 0x02, 3); }, "whose name holds a NUL", false,
            nullptr },
        { "a subkey count its list does not hold", [](std::string& h, const Layout& l) { put32(h, l.k + 4 + 0x14, 2); },
            "says it has 2 subkeys, but its list holds 1", false, nullptr },
        { "a log file's header", [](std::string& h, const Layout&) { put32(h, 0x1c, 1); }, "the log file of one", true,
            nullptr },
        { "a format version not known", [](std::string& h, const Layout&) { put32(h, 0x18, 42); },
            "format version 1.42", false, nullptr },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bad = good;
        c.apply(bad, Layout(good));
        test::writeFile(path, bad);
        {
            MemoryRegistry store;
            const Status mounted = mountHiveFile(store, kLocalMachine, u"T", path);
            if (c.refused) {
                EXPECT_NE(mounted.message().find(c.said), std::string::npos) << mounted.message();
                EXPECT_NE(mounted.message().find(path), std::string::npos) << mounted.message();
            } else {
                ASSERT_EQ(mounted, Status::Ok);
                EXPECT_NE(store.readOnlyReason().find(c.said), std::string::npos) << store.readOnlyReason();
            }
        }
        const Ran add = quernReg("add 'HKLM\\T\\K' /v S /t REG_SZ /d x /f");
        EXPECT_EQ(add.code, 1) << add.err;
        EXPECT_NE(add.err.find(c.said), std::string::npos) << add.err;
        if (!c.refused) {
            const Ran exported = quernReg("export 'HKLM\\T' '" + dir / "t.reg" + "' /y");
            const Ran query = quernReg("query 'HKLM\\T\\K'");
            EXPECT_EQ(query.code, 0) << query.err;
            if (c.leftOut) {
                // Not shown, so not in the file; the export says so and fails, as for a name the
                // file cannot hold.
                EXPECT_EQ(exported.code, 1) << exported.err;
                EXPECT_NE(exported.err.find("names no path can reach"), std::string::npos) << exported.err;
                EXPECT_NE(exported.err.find(c.leftOut), std::string::npos) << exported.err;
                EXPECT_EQ(query.out.find("Sub"), std::string::npos) << query.out;
                EXPECT_NE(query.err.find("warning: SYSTEM: \"K\" has a subkey"), std::string::npos) << query.err;
                const Ran found = quernReg("find Sub");
                EXPECT_EQ(found.out.find("\\K\\Sub"), std::string::npos) << found.out;
            } else {
                EXPECT_EQ(exported.code, 0) << exported.err;
            }
        }
        EXPECT_EQ(test::readFile(path), bad) << "the hive is byte for byte as it was";
        EXPECT_EQ(writtenBeside(), "");
    }
}

TEST_F(DamagedHiveTest, TheCopyAsItWasNeverGoesUnflushedOrOverAUsersNameAndOldContentBesideIsTold) {
    // The folder cannot be flushed once the copy of the hive as it was has its name: nothing is
    // written, and the copy goes with the change.
    HiveOpenOptions failing;
    int flushes = 0;
    failing.syncFolder = [&](int) {
        ++flushes;
        errno = EIO;
        return -1;
    };
    {
        MemoryRegistry store;
        ASSERT_EQ(mountHiveFile(store, kLocalMachine, u"T", path, failing), Status::Ok);
        HKey key = kNoKey;
        const Status refused = store.createKey(kLocalMachine, u"T\\New", Access::Full, kOptionNone, key);
        EXPECT_EQ(refused, Status::WriteFailed);
        EXPECT_NE(refused.message().find("could not be flushed"), std::string::npos) << refused.message();
        EXPECT_EQ(flushes, 1) << "the copy is flushed before the hive is replaced";
    }
    EXPECT_EQ(test::readFile(path), good);
    EXPECT_EQ(writtenBeside(), "");

    // A symbolic link of the user's under the copy's name, leading nowhere: it stays as it is, and
    // the copy takes the next name.
    ASSERT_EQ(::symlink("nowhere", (path + ".quern-orig").c_str()), 0);
    {
        MemoryRegistry store;
        ASSERT_EQ(mountHiveFile(store, kLocalMachine, u"T", path), Status::Ok);
        HKey key = kNoKey;
        ASSERT_EQ(store.createKey(kLocalMachine, u"T\\New", Access::Full, kOptionNone, key), Status::Ok);
    }
    struct stat link { };
    ASSERT_EQ(::lstat((path + ".quern-orig").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_FALSE(test::fileExists(dir / "nowhere"));
    EXPECT_EQ(test::readFile(path + ".quern-orig.2"), good);

    // Old content a command left beside the hive when Quern stopped between two renames is told at
    // load, and stays; a second name of the hive itself is no such thing.
    const std::string kept = dir / ".SYSTEM.quern-old-a1b2c3";
    test::writeFile(kept, good);
    ASSERT_EQ(::link(path.c_str(), (dir / ".SYSTEM.quern-old-d4e5f6").c_str()), 0);
    {
        MemoryRegistry store;
        ASSERT_EQ(mountHiveFile(store, kLocalMachine, u"T", path), Status::Ok);
        ASSERT_EQ(store.loadMessages().size(), 1u);
        EXPECT_NE(store.loadMessages()[0].find(path + " may hold"), std::string::npos) << store.loadMessages()[0];
        EXPECT_NE(store.loadMessages()[0].find("kept beside it as " + kept), std::string::npos);
        HKey key = kNoKey;
        EXPECT_EQ(store.createKey(kLocalMachine, u"T\\After", Access::Full, kOptionNone, key), Status::Ok);
    }
    const Ran query = quernReg("query 'HKLM\\T'");
    EXPECT_EQ(query.code, 0);
    EXPECT_NE(query.err.find("warning: A Quern stopped"), std::string::npos) << query.err;
    EXPECT_EQ(test::readFile(kept), good) << "it stays for the user to decide";
}

// A path named as a hive that is no hive file at all is refused before anything is mapped, in the
// hive's own words after its name: a FIFO is never opened for a writer that never comes, a device
// never read, and a missing file is as unreadable as any other.
TEST(HiveFileTest, WhatIsNoRegularFileIsRefusedInTheHivesOwnWords) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const struct {
        std::string path;
        std::string said;
    } cases[] = {
        { dir / "fifo", dir / "fifo" + " is not a regular file." },
        { "/dev/null", "/dev/null is not a regular file." },
        { dir / "missing", dir / "missing" + " cannot be read (" + std::strerror(ENOENT) + ")." },
    };
    for (const auto& c : cases) {
        MemoryRegistry store;
        const Status mounted = mountHiveFile(store, kLocalMachine, u"T", c.path);
        EXPECT_EQ(mounted, Status::BadPath) << c.path;
        EXPECT_EQ(mounted.message(), c.said);
        EXPECT_TRUE(store.mountedParts().empty()) << c.path;
    }
}
