#include "TestSupport.h"

#include "wine/WineServer.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quern::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quern-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // A store that wrote in this folder or one below it, as a prefix, made the wineserver's folder for
    // it in upstream's place, which holds nothing once the prefix is gone (unless its server still runs).
    const reg::ServerSearchPaths upstream { "/nonexistent", reg::defaultServerSearchPaths().upstreamDir,
        "/nonexistent" };
    std::vector<std::string> prefixes { m_path };
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) prefixes.push_back(it->path().string());
    for (const auto& prefix : prefixes) {
        const std::string serverFolder = reg::serverFolderName(prefix);
        if (!serverFolder.empty() && !reg::findWineServer(prefix, upstream, false).running)
            std::filesystem::remove_all(upstream.upstreamDir + "/" + serverFolder, ignored);
    }
    std::filesystem::permissions(
        m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

reg::WinePrefixOptions testPrefixOptions(const std::string& dir, const std::string& serverDir) {
    reg::WinePrefixOptions options;
    options.prefixDir = dir;
    options.scanProcesses = false;
    options.serverPaths = { serverDir, serverDir + "/upstream", "/nonexistent" };
    return options;
}

std::unique_ptr<reg::WinePrefixStore> openTestRegistry(const std::string& dir, bool create) {
    reg::WinePrefixOptions options = testPrefixOptions(dir, dir + "/.servers");
    options.createIfMissing = create;
    return std::make_unique<reg::WinePrefixStore>(options);
}

std::vector<std::uint8_t> utf16Bytes(std::u16string_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() * 2 + 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

std::vector<std::uint8_t> utf16zBytes(std::u16string_view text) {
    auto bytes = utf16Bytes(text);
    bytes.insert(bytes.end(), { 0, 0 });
    return bytes;
}

std::string samplePrefixDir() {
    return std::string(QUERN_TEST_DATA_DIR) + "/wine-prefix";
}

void copySamplePrefix(const std::string& dir) {
    for (const char* name : { "system.reg", "user.reg", "userdef.reg" }) {
        const auto target = std::filesystem::path(dir) / name;
        std::filesystem::copy_file(
            std::filesystem::path(samplePrefixDir()) / name, target, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(target,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write
                | std::filesystem::perms::group_read | std::filesystem::perms::others_read);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool fileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

} // namespace quern::test

#include "wine/WineServer.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quern::test {

FileSizeLimit::FileSizeLimit(unsigned long bytes) {
    struct rlimit limit { };
    ::getrlimit(RLIMIT_FSIZE, &limit);
    m_old = limit.rlim_cur;
    m_handler = std::signal(SIGXFSZ, SIG_IGN); // the failed write returns an error instead of killing us
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
    struct rlimit limit { };
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = m_old;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, m_handler);
}

void makeServerFolders(const std::string& lockPath) {
    // The two folders as wineserver makes them: for this user alone.
    const auto folder = std::filesystem::path(lockPath).parent_path();
    std::filesystem::create_directories(folder);
    for (const auto& made : { folder.parent_path(), folder })
        std::filesystem::permissions(made, std::filesystem::perms::owner_all);
}

HeldLock::HeldLock(const std::string& lockPath) {
    makeServerFolders(lockPath);
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe");
    m_pid = ::fork();
    if (m_pid == 0) {
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
        struct flock lock { };
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_len = 1;
        const char ok = (fd >= 0 && ::fcntl(fd, F_SETLKW, &lock) == 0) ? 1 : 0;
        (void)::write(ready[1], &ok, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    (void)::read(ready[0], &ok, 1);
    ::close(ready[0]);
    if (!ok) throw std::runtime_error("cannot hold the lock " + lockPath);
}

HeldLock::~HeldLock() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

std::string debianLockPath(const std::string& prefixDir, const std::string& tmpDir) {
    // As Debian's wine leaves it: the name alone, in a file only its owner may read.
    const std::string nameFile = prefixDir + "/wineserver";
    std::filesystem::remove(nameFile);
    writeFile(nameFile, "wine-querntest");
    std::filesystem::permissions(nameFile, std::filesystem::perms::owner_read);
    return tmpDir + "/wine-querntest/" + reg::serverFolderName(prefixDir) + "/lock";
}

std::string testRegistryServerLock(const std::string& dir) {
    return debianLockPath(dir, dir + "/.servers");
}

FakeWineProcess::FakeWineProcess(const std::string& executable, const std::string& windowsPath,
    const std::vector<std::string>& environment, const std::string& folder) {
    m_pid = ::fork();
    if (m_pid == 0) {
        std::vector<std::string> args { windowsPath, "60" };
        std::vector<char*> argv { args[0].data(), args[1].data(), nullptr };
        std::vector<std::string> env = environment;
        std::vector<char*> envp;
        for (auto& entry : env)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        if (::chdir(folder.c_str()) == 0) ::execve(executable.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    // Until it has become the program: before, /proc shows the test's own executable.
    std::error_code error;
    for (int i = 0;
         i < 500 && std::filesystem::read_symlink("/proc/" + std::to_string(m_pid) + "/exe", error) != executable; ++i)
        ::usleep(10000);
}

FakeWineProcess::~FakeWineProcess() {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
}

std::string copyOfSleep(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::copy_file("/bin/sleep", path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

} // namespace quern::test
