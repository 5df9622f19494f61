#include "codec/AtomicFile.h"

#include "codec/FileRead.h"
#include "codec/UniqueFd.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace quern {

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash == 0 ? 1 : slash);
}

std::string baseOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr std::string_view kKeptMark = ".quern-old-";
constexpr std::size_t kKeptSuffix = 6;

std::string randomSuffix() {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 random { std::random_device {}() };
    std::string out;
    for (std::size_t i = 0; i < kKeptSuffix; ++i)
        out += kLetters[random() % (sizeof kLetters - 1)];
    return out;
}

// A failure of the system, errno being error, in its own words.
reg::Status systemFailure(int error) {
    return reg::Status(reg::Status::WriteFailed, std::strerror(error));
}

// Copies in's bytes into out; false, with errno set, when a read or write fails.
bool copyBytes(int in, int out) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
    }
}

// The old file's content, mode and times copied into a new file at pattern (mkstemp's), flushed.
reg::Status copyBeside(const std::string& from, const struct stat& st, std::string& pattern) {
    const UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.valid()) return systemFailure(errno);
    UniqueFd out(::mkstemp(pattern.data()));
    if (!out.valid()) return systemFailure(errno);
    const timespec times[2] = { st.st_atim, st.st_mtim };
    bool ok = ::fchmod(out.get(), st.st_mode & 07777) == 0 && copyBytes(in.get(), out.get())
        && ::futimens(out.get(), times) == 0 && ::fsync(out.get()) == 0;
    int error = ok ? 0 : errno;
    if (::close(out.release()) != 0 && ok) {
        error = errno;
        ok = false;
    }
    if (ok) return reg::Status::Ok;
    ::unlink(pattern.c_str());
    return systemFailure(error);
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

bool isKeptOriginalName(std::string_view entry, std::string_view base) {
    return entry.size() == 1 + base.size() + kKeptMark.size() + kKeptSuffix && entry.starts_with('.')
        && entry.substr(1, base.size()) == base && entry.substr(1 + base.size(), kKeptMark.size()) == kKeptMark;
}

nlink_t otherNames(const std::string& path, const struct stat& st) {
    if (st.st_nlink <= 1) return 0;
    nlink_t others = st.st_nlink - 1;
    const std::string target = resolveLinks(path);
    const std::string folder = folderOf(target);
    const std::string base = baseOf(target);
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            struct stat kept { };
            if (others > 0 && isKeptOriginalName(entry->d_name, base)
                && ::lstat((folder + "/" + entry->d_name).c_str(), &kept) == 0 && kept.st_dev == st.st_dev
                && kept.st_ino == st.st_ino)
                --others;
        }
        ::closedir(dir);
    }
    return others;
}

FileStamp stampOf(const struct stat& st) {
    return { static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
        static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec),
        static_cast<long long>(st.st_mtim.tv_nsec) };
}

int flushFolder(const std::string& folder, const std::function<int(int folderFd)>& hook) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int error = (hook ? hook(fd) : ::fsync(fd)) == 0 ? 0 : errno;
    ::close(fd);
    return error == EINVAL ? 0 : error;
}

KeptOriginal::~KeptOriginal() {
    drop();
}

reg::Status KeptOriginal::keep(const std::string& target, const LinkFunction& link) {
    drop();
    m_target = target;
    m_kept.clear();
    struct stat st { };
    if (::lstat(target.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            return systemFailure(errno);
        }
        m_holds = true; // no file: putting back removes the new one
        return reg::Status::Ok;
    }
    const std::string prefix = folderOf(target) + "/." + baseOf(target) + std::string(kKeptMark);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = prefix + randomSuffix();
        if ((link ? link(target.c_str(), name.c_str()) : ::link(target.c_str(), name.c_str())) == 0) {
            m_kept = name;
            m_holds = true;
            return reg::Status::Ok;
        }
        if (errno == EEXIST) continue;
        // A file system without hard links (FAT, some network shares), or a file with too many.
        if (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK || errno == ENOSYS || errno == EXDEV) break;
        return systemFailure(errno);
    }
    std::string pattern = prefix + std::string(kKeptSuffix, 'X');
    if (reg::Status copied = copyBeside(target, st, pattern); !copied.ok()) return copied;
    m_kept = pattern;
    m_holds = true;
    return reg::Status::Ok;
}

KeptOriginal::PutBack KeptOriginal::putBack(const std::function<int(int folderFd)>& syncFolder) {
    if (!m_holds) return {};
    m_holds = false;
    const bool removed = m_kept.empty() && (::unlink(m_target.c_str()) == 0 || errno == ENOENT);
    if (!removed && (m_kept.empty() || ::rename(m_kept.c_str(), m_target.c_str()) != 0))
        return { systemFailure(errno), reg::Status::Ok };
    m_kept.clear();
    if (const int flushed = flushFolder(folderOf(m_target), syncFolder); flushed != 0)
        return { reg::Status::Ok,
            reg::Status(reg::Status::WriteFailed,
                "its folder could not be flushed to disk afterwards (" + std::string(std::strerror(flushed))
                    + "), so a crash may still bring the new content back") };
    return {};
}

void KeptOriginal::drop() {
    if (m_holds && !m_kept.empty()) ::unlink(m_kept.c_str());
    m_holds = false;
    m_kept.clear();
}

AtomicFile::~AtomicFile() {
    abandon();
}

reg::Status AtomicFile::fail(reg::Status failure) {
    if (m_failure.ok()) m_failure = std::move(failure);
    return m_failure;
}

reg::Status AtomicFile::open(const std::string& path) {
    return open(path, true, {});
}

std::string AtomicFile::folder() const {
    return folderOf(m_target);
}

reg::Status AtomicFile::open(const std::string& path, bool allowInPlace, Hooks hooks) {
    abandon();
    m_failure = reg::Status::Ok;
    m_inPlace = false;
    m_hooks = std::move(hooks);
    m_expected.reset();
    m_target = resolveLinks(path);
    // Only a regular file is ever replaced: a rename over a device or a FIFO would put a plain file
    // in its place (/dev/null among them, for a user who can write /dev), and writing into one in
    // place is no file written at all.
    // Looked at through the name as given as well: /dev/stdout leads through /proc to a pipe that
    // is no path at all, but the kernel still follows it to what it is.
    struct stat existing { };
    const bool exists = ::stat(m_target.c_str(), &existing) == 0;
    if ((exists || ::stat(path.c_str(), &existing) == 0) && !S_ISREG(existing.st_mode))
        return fail(kindOfFile(existing.st_mode) + ", not a regular file: Quern writes only regular files");
    const auto slash = m_target.rfind('/');
    const std::string name = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    m_temp = folderOf(m_target) + "/." + name + ".quern-XXXXXX";
    m_fd.reset(::mkstemp(m_temp.data()));
    if (m_fd.valid()) {
        // The new file belongs to whoever owned the old one, where this process may say so (root,
        // or a member of its group): a file root edits in a user's prefix stays the user's.
        if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())
            && ::fchown(m_fd.get(), existing.st_uid, existing.st_gid) != 0)
            (void)::fchown(m_fd.get(), static_cast<uid_t>(-1), existing.st_gid);
        if (::fchmod(m_fd.get(), modeFor(m_target)) != 0) return fail(std::strerror(errno));
        return reg::Status::Ok;
    }
    const int tempError = errno;
    m_temp.clear();
    // No room beside it, but the file itself may be writable: better a write that is not atomic
    // than none at all.
    if (allowInPlace && (tempError == EACCES || tempError == EPERM || tempError == EROFS)) {
        m_fd.reset(::open(m_target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
        if (m_fd.valid()) {
            m_inPlace = true;
            return reg::Status::Ok;
        }
    }
    return fail(std::strerror(tempError));
}

reg::Status AtomicFile::write(std::string_view data) {
    if (!m_fd.valid()) return fail("the file is not open");
    if (!m_failure.ok()) return m_failure;
    while (!data.empty()) {
        const ssize_t n = ::write(m_fd.get(), data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(std::strerror(errno));
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return reg::Status::Ok;
}

reg::Status AtomicFile::commit() {
    if (reg::Status flushed = flush(); !flushed.ok()) return flushed;
    if (reg::Status replaced = replace(); !replaced.ok()) return replaced;
    return syncFolder();
}

reg::Status AtomicFile::flush() {
    if (!m_fd.valid()) return fail("the file is not open");
    if (m_failure.ok() && ::fsync(m_fd.get()) != 0) (void)fail(std::strerror(errno));
    if (::close(m_fd.release()) != 0) (void)fail(std::strerror(errno));
    if (!m_failure.ok()) abandon();
    return m_failure;
}

reg::Status AtomicFile::replace(bool keepOriginal) {
    if (m_inPlace) return m_failure;
    if (m_temp.empty()) return fail("the file is not open");
    if (m_expected) {
        if (reg::Status still = stillExpected(); !still.ok()) return still;
    }
    if (const reg::Status kept = keepOriginal ? m_original.keep(m_target, m_hooks.link) : reg::Status::Ok; !kept.ok()) {
        (void)fail("its old content cannot be kept beside it (" + kept.message() + ")");
        abandon();
        return m_failure;
    }
    if (m_hooks.beforeRename) m_hooks.beforeRename(m_temp);
    if (m_expected) return exchangeExpected();
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        (void)fail(std::strerror(errno));
        m_original.drop();
        abandon();
        return m_failure;
    }
    m_temp.clear();
    return reg::Status::Ok;
}

reg::Status AtomicFile::stillExpected() {
    struct stat st { };
    if (::stat(m_target.c_str(), &st) == 0 ? stampOf(st) == *m_expected : m_expected->size < 0) return reg::Status::Ok;
    return changedMeanwhile();
}

reg::Status AtomicFile::changedMeanwhile() {
    (void)fail(reg::Status(reg::Status::ChangedOnDisk, "it was changed on disk while Quern wrote it"));
    m_original.drop();
    abandon();
    return m_failure;
}

// A check of the target followed by a rename leaves a gap in which another program may rename its
// own file into place, which the rename would then throw away unseen. Exchanging the two names
// instead is one step, after which the file that was swapped out is at hand to look at: when it is
// not the one expected, exchanging them back leaves the other program's file in place. What is
// left: a reader may see the new content for that moment, and a program that writes the swapped-out
// file in place after the exchange writes to a file that is going.
reg::Status replaceIfStill(std::string& temp, const std::string& target, const FileStamp& expected) {
    const bool noFile = expected.size < 0;
    if (noFile || ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) != 0) {
        // No file to exchange with (RENAME_NOREPLACE keeps one made meanwhile), or a file system
        // without exchanges: the look before stands alone.
        const int failed = errno;
        const bool fallBack = !noFile && (failed == EINVAL || failed == ENOSYS || failed == EOPNOTSUPP);
        if (!noFile && !fallBack) {
            // The target gone is a change on disk; the new file gone is a failed write.
            if (failed == ENOENT && ::access(temp.c_str(), F_OK) == 0) return reg::Status::ChangedOnDisk;
            return systemFailure(failed);
        }
        int renamed = noFile ? ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE)
                             : ::rename(temp.c_str(), target.c_str());
        if (renamed != 0 && noFile && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
            renamed
                = ::access(target.c_str(), F_OK) == 0 ? (errno = EEXIST, -1) : ::rename(temp.c_str(), target.c_str());
        if (renamed == 0) {
            temp.clear();
            return reg::Status::Ok;
        }
        if (errno == EEXIST) return reg::Status::ChangedOnDisk;
        return systemFailure(errno);
    }
    struct stat out { };
    if (::lstat(temp.c_str(), &out) != 0 || stampOf(out) != expected) {
        // Someone else's file was in place: it goes back, and the new content to the temporary name.
        if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) != 0) {
            reg::Status swapped(reg::Status::ChangedOnDisk,
                "the other program's file could not be put back in place (" + std::string(std::strerror(errno))
                    + "): it is beside it as " + temp);
            temp.clear();
            return swapped;
        }
        return reg::Status::ChangedOnDisk;
    }
    // The old file, still reachable as a kept original where one was made.
    ::unlink(temp.c_str());
    temp.clear();
    return reg::Status::Ok;
}

reg::Status AtomicFile::exchangeExpected() {
    const reg::Status replaced = replaceIfStill(m_temp, m_target, *m_expected);
    if (replaced.ok()) return replaced;
    if (replaced == reg::Status::ChangedOnDisk && !m_temp.empty()) return changedMeanwhile();
    if (replaced == reg::Status::ChangedOnDisk) {
        (void)fail(reg::Status(
            reg::Status::ChangedOnDisk, "it was changed on disk while Quern wrote it, and " + replaced.message()));
        m_original.drop();
        return m_failure;
    }
    (void)fail(replaced);
    m_original.drop();
    abandon();
    return m_failure;
}

// The rename is only lasting once the folder that holds the new name is on disk too.
reg::Status AtomicFile::syncFolder() {
    if (const int error = flushFolder(folderOf(m_target), m_hooks.syncFolder); error != 0)
        return fail(std::strerror(error));
    return reg::Status::Ok;
}

void AtomicFile::abandon() {
    m_fd.reset();
    if (!m_temp.empty()) ::unlink(m_temp.c_str());
    m_temp.clear();
}

reg::Status AtomicFile::writeWhole(const std::string& path, std::string_view content, bool* inPlace) {
    AtomicFile file;
    reg::Status written = file.open(path);
    if (written.ok()) written = file.write(content);
    if (written.ok()) written = file.commit();
    if (inPlace) *inPlace = file.inPlace();
    return written.ok() ? reg::Status::Ok : reg::Status(reg::Status::WriteFailed, written.message());
}

} // namespace quern
