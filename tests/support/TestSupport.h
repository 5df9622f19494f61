#pragma once

#include "wine/WinePrefixStore.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace quern::test {

// A folder of its own for one test, removed with everything in it when the test ends.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::string& path() const { return m_path; }
    [[nodiscard]] std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// The sample prefix in the test data (read-only): three files as Wine wrote them.
[[nodiscard]] std::string samplePrefixDir();

// Copies the sample prefix's three files into dir.
void copySamplePrefix(const std::string& dir);

// Options for a prefix in dir whose wineservers are looked for below serverDir only (and in no
// process), so that no real wineserver changes a test.
[[nodiscard]] reg::WinePrefixOptions testPrefixOptions(const std::string& dir, const std::string& serverDir);

// Opens a registry of Quern's own kind in folder dir, made with the base keys on first use unless
// create is false. Servers are looked for below dir only, so no real wineserver changes a test.
[[nodiscard]] std::unique_ptr<reg::WinePrefixStore> openTestRegistry(const std::string& dir, bool create = true);

// Text as the registry stores strings: UTF-16LE, and with the closing NUL for utf16zBytes.
[[nodiscard]] std::vector<std::uint8_t> utf16Bytes(std::u16string_view text);
[[nodiscard]] std::vector<std::uint8_t> utf16zBytes(std::u16string_view text);

[[nodiscard]] std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
[[nodiscard]] bool fileExists(const std::string& path);
// Runs a shell command; its standard output.
[[nodiscard]] std::string run(const std::string& command);

} // namespace quern::test

namespace quern::test {

// Limits the size of files this process writes while it lives, so that a write fails part-way as
// it would on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long m_old = 0;
    void (*m_handler)(int) = nullptr;
};

// A write lock on byte 0 of a file, held by a child process the way a running wineserver holds
// its lock file, until this object goes.
class HeldLock {
public:
    explicit HeldLock(const std::string& lockPath);
    ~HeldLock();
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    [[nodiscard]] int pid() const { return m_pid; }

private:
    int m_pid = -1;
};

// Where a Debian wineserver of prefixDir, with its server folders below tmpDir, holds its lock; the
// prefix gets the file that names its folder, as Debian's wine writes it.
[[nodiscard]] std::string debianLockPath(const std::string& prefixDir, const std::string& tmpDir);

// The same for a registry that openTestRegistry opens: while a HeldLock holds it, such a store
// finds a wineserver and is read-only.
[[nodiscard]] std::string testRegistryServerLock(const std::string& dir);

// Makes the lock path's two folders as wineserver makes them, for this user alone.
void makeServerFolders(const std::string& lockPath);

// A copy of sleep that runs under the name of one of Wine's executables, as Wine starts a program:
// its Windows path as its first argument, its prefix in its environment, in the folder given. It
// is killed when the object goes.
class FakeWineProcess {
public:
    FakeWineProcess(const std::string& executable, const std::string& windowsPath,
        const std::vector<std::string>& environment, const std::string& folder);
    ~FakeWineProcess();
    FakeWineProcess(const FakeWineProcess&) = delete;
    FakeWineProcess& operator=(const FakeWineProcess&) = delete;
    [[nodiscard]] pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

// Copies /bin/sleep to path (its folders made), to run as a FakeWineProcess.
[[nodiscard]] std::string copyOfSleep(const std::string& path);

} // namespace quern::test
