#include "codec/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quern {

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash == 0 ? 1 : slash);
}

mode_t modeFor(const std::string& path) {
    struct stat old { };
    if (::stat(path.c_str(), &old) == 0) return old.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

std::string resolveLinks(const std::string& path) {
    std::string at = path;
    // As the kernel does, a chain of links gives up after 40; the last name reached is used.
    for (int hops = 0; hops < 40; ++hops) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(at.c_str(), target, sizeof target - 1);
        if (n < 0) break;
        const std::string next(target, static_cast<std::size_t>(n));
        at = next.starts_with('/') ? next : folderOf(at) + "/" + next;
    }
    return at;
}

AtomicFile::~AtomicFile() {
    abandon();
}

bool AtomicFile::fail(std::string what) {
    if (m_error.empty()) m_error = std::move(what);
    return false;
}

bool AtomicFile::open(const std::string& path) {
    return open(path, true, {});
}

std::string AtomicFile::folder() const {
    return folderOf(m_target);
}

bool AtomicFile::open(const std::string& path, bool allowInPlace, Hooks hooks) {
    abandon();
    m_error.clear();
    m_inPlace = false;
    m_hooks = std::move(hooks);
    m_target = resolveLinks(path);
    const auto slash = m_target.rfind('/');
    const std::string name = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    m_temp = folderOf(m_target) + "/." + name + ".quern-XXXXXX";
    m_fd = ::mkstemp(m_temp.data());
    if (m_fd >= 0) {
        if (::fchmod(m_fd, modeFor(m_target)) != 0) return fail(std::strerror(errno));
        return true;
    }
    const int tempError = errno;
    m_temp.clear();
    // No room beside it, but the file itself may be writable: better a write that is not atomic
    // than none at all.
    if (allowInPlace && (tempError == EACCES || tempError == EPERM || tempError == EROFS)) {
        m_fd = ::open(m_target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (m_fd >= 0) {
            m_inPlace = true;
            return true;
        }
    }
    return fail(std::strerror(tempError));
}

bool AtomicFile::write(std::string_view data) {
    if (m_fd < 0) return fail("the file is not open");
    if (!m_error.empty()) return false;
    while (!data.empty()) {
        const ssize_t n = ::write(m_fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(std::strerror(errno));
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool AtomicFile::commit() {
    return flush() && replace() && syncFolder();
}

bool AtomicFile::flush() {
    if (m_fd < 0) return fail("the file is not open");
    if (m_error.empty() && ::fsync(m_fd) != 0) (void)fail(std::strerror(errno));
    if (::close(m_fd) != 0) (void)fail(std::strerror(errno));
    m_fd = -1;
    if (!m_error.empty()) {
        abandon();
        return false;
    }
    return true;
}

bool AtomicFile::replace() {
    if (m_inPlace) return m_error.empty();
    if (m_temp.empty()) return fail("the file is not open");
    if (m_hooks.beforeRename) m_hooks.beforeRename(m_temp);
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        (void)fail(std::strerror(errno));
        abandon();
        return false;
    }
    m_temp.clear();
    return true;
}

// The rename is only lasting once the folder that holds the new name is on disk too.
bool AtomicFile::syncFolder() {
    const int folder = ::open(folderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = folder >= 0 && (m_hooks.syncFolder ? m_hooks.syncFolder(folder) : ::fsync(folder)) == 0;
    const int syncError = errno;
    if (folder >= 0) ::close(folder);
    if (!synced && syncError != EINVAL) return fail(std::strerror(syncError));
    return true;
}

void AtomicFile::abandon() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_temp.empty()) ::unlink(m_temp.c_str());
    m_temp.clear();
}

bool AtomicFile::writeWhole(const std::string& path, std::string_view content, std::string& error, bool* inPlace) {
    AtomicFile file;
    const bool ok = file.open(path) && file.write(content) && file.commit();
    if (!ok) error = file.error();
    if (inPlace) *inPlace = file.inPlace();
    return ok;
}

} // namespace quern
