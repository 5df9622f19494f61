#include "codec/FileRead.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quern {

namespace {

std::string readLinkText(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string cannotRead(int error) {
    return "cannot be read (" + std::string(std::strerror(error)) + ")";
}

std::string grewPast(long long maxSize) {
    return "grew past " + sizeText(maxSize) + " while it was read, more than any registry file";
}

} // namespace

std::string kindOfFile(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO (a named pipe)";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "a special file";
}

std::string sizeText(long long bytes) {
    if (bytes % (1LL << 30) == 0) return std::to_string(bytes >> 30) + " GiB";
    if (bytes % (1LL << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

ReadResult openRegularFile(const std::string& path, long long maxSize, int& fd, struct stat& st, std::string& why) {
    // Opened without blocking: a FIFO would otherwise wait for a writer that never comes.
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat link { };
        if (error == ENOENT && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            why = "is a symbolic link to " + readLinkText(path) + ", which does not exist";
            return ReadResult::Refused;
        }
        if (error == ENOENT) return ReadResult::Missing;
        why = cannotRead(error);
        return ReadResult::Refused;
    }
    auto refuse = [&](std::string text) {
        why = std::move(text);
        ::close(fd);
        fd = -1;
        return ReadResult::Refused;
    };
    if (::fstat(fd, &st) != 0) return refuse(cannotRead(errno));
    if (!S_ISREG(st.st_mode)) return refuse("is " + kindOfFile(st.st_mode) + ", not a regular file");
    if (st.st_size > maxSize)
        return refuse("is larger than " + sizeText(maxSize) + " (" + std::to_string(st.st_size)
            + " bytes), more than any registry file");
    return ReadResult::Ok;
}

bool readToEnd(int fd, long long maxSize, std::uint64_t& read, std::string& why,
    const std::function<void(std::string_view)>& take) {
    std::string buffer(std::size_t(1) << 20, '\0');
    read = 0;
    for (;;) {
        if (read > static_cast<std::uint64_t>(maxSize)) {
            why = grewPast(maxSize);
            return false;
        }
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            why = cannotRead(errno);
            return false;
        }
        if (n == 0) return true;
        take(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        read += static_cast<std::uint64_t>(n);
    }
}

ReadResult readRegularFile(
    const std::string& path, long long maxSize, std::string& content, struct stat& st, std::string& why) {
    int fd = -1;
    if (const ReadResult opened = openRegularFile(path, maxSize, fd, st, why); opened != ReadResult::Ok)
        return opened;
    auto refuse = [&](std::string text) {
        why = std::move(text);
        ::close(fd);
        return ReadResult::Refused;
    };
    content.clear();
    content.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    for (;;) {
        if (done > static_cast<std::size_t>(maxSize)) return refuse(grewPast(maxSize));
        if (done == content.size()) {
            // Full as stat said: most likely the end. Room for more only if the file grew while read,
            // so that a file read whole is never held one and a half times.
            char probe[4096];
            const ssize_t n = ::read(fd, probe, sizeof probe);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return refuse(cannotRead(errno));
            if (n == 0) break;
            content.resize(done + 65536 + done / 2);
            std::memcpy(content.data() + done, probe, static_cast<std::size_t>(n));
            done += static_cast<std::size_t>(n);
            continue;
        }
        const ssize_t n = ::read(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return refuse(cannotRead(errno));
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    content.resize(done);
    st.st_size = static_cast<off_t>(done);
    ::close(fd);
    return ReadResult::Ok;
}

} // namespace quern
