#include "codec/FileRead.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quern {

using reg::Status;

namespace {

std::string readLinkText(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

Status refused(std::string words) {
    return Status(Status::ReadFailed, std::move(words));
}

Status cannotRead(int error) {
    return refused("cannot be read (" + std::string(std::strerror(error)) + ")");
}

Status grewPast(long long maxSize) {
    return refused("grew past " + sizeText(maxSize) + " while it was read, more than any registry file");
}

std::string notRegularFile(mode_t mode) {
    return "is " + kindOfFile(mode) + ", not a regular file";
}

std::string largerThanAnyRegistry(long long maxSize, long long size) {
    return "is larger than " + sizeText(maxSize) + " (" + std::to_string(size) + " bytes), more than any registry file";
}

// Why open(2) failed on path, errno being error.
Status openFailure(const std::string& path, const FileLimit& limit, int error) {
    if (error != ENOENT || limit.mustExist) return cannotRead(error);
    struct stat link { };
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
        return refused("is a symbolic link to " + readLinkText(path) + ", which does not exist");
    return Status::NotFound;
}

// Reads past the size fstat gave, for a file that grew while it was read: a piece at a time, so
// that a file read whole is never held one and a half times. done is how much content holds.
Status readGrowth(int fd, long long maxSize, std::string& content, std::size_t& done) {
    for (;;) {
        if (done > static_cast<std::size_t>(maxSize)) return grewPast(maxSize);
        if (done == content.size()) {
            char probe[4096];
            const ssize_t n = ::read(fd, probe, sizeof probe);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return cannotRead(errno);
            if (n == 0) return Status::Ok;
            content.resize(done + 65536 + done / 2);
            std::memcpy(content.data() + done, probe, static_cast<std::size_t>(n));
            done += static_cast<std::size_t>(n);
            continue;
        }
        const ssize_t n = ::read(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return cannotRead(errno);
        if (n == 0) return Status::Ok;
        done += static_cast<std::size_t>(n);
    }
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

Status openRegularFile(const std::string& path, const FileLimit& limit, UniqueFd& fd, struct stat& st) {
    // Opened without blocking: a FIFO would otherwise wait for a writer that never comes.
    UniqueFd opened(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!opened.valid()) return openFailure(path, limit, errno);
    if (::fstat(opened.get(), &st) != 0) return cannotRead(errno);
    if (!S_ISREG(st.st_mode)) return refused((limit.notRegular ? limit.notRegular : notRegularFile)(st.st_mode));
    if (st.st_size > limit.maxSize)
        return refused((limit.tooLarge ? limit.tooLarge : largerThanAnyRegistry)(limit.maxSize, st.st_size));
    fd = std::move(opened);
    return Status::Ok;
}

Status readToEnd(int fd, long long maxSize, std::uint64_t& read, const std::function<void(std::string_view)>& take) {
    std::string buffer(std::size_t(1) << 20, '\0');
    read = 0;
    for (;;) {
        if (read > static_cast<std::uint64_t>(maxSize)) return grewPast(maxSize);
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return cannotRead(errno);
        }
        if (n == 0) return Status::Ok;
        take(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        read += static_cast<std::uint64_t>(n);
    }
}

Status readRegularFile(const std::string& path, const FileLimit& limit, std::string& content, struct stat& st) {
    UniqueFd fd;
    if (Status opened = openRegularFile(path, limit, fd, st); !opened.ok()) return opened;
    content.clear();
    content.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    // Full as stat said is most likely the end; readGrowth makes room only if the file grew.
    if (Status read = readGrowth(fd.get(), limit.maxSize, content, done); !read.ok()) return read;
    content.resize(done);
    st.st_size = static_cast<off_t>(done);
    return Status::Ok;
}

} // namespace quern
