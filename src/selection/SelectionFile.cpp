#include "selection/SelectionFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quern {

std::string formatSelectionFile(const std::vector<std::string>& entries, std::vector<std::string>* leftOut) {
    std::string text;
    std::size_t size = 0;
    for (const auto& entry : entries)
        size += entry.size() + 2;
    text.reserve(size);
    for (const auto& entry : entries) {
        if (entry.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
            if (leftOut) leftOut->push_back(entry);
            continue;
        }
        text += entry;
        text += "\r\n";
    }
    return text;
}

std::vector<std::string> parseSelectionFile(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            entries.emplace_back(text.substr(start));
            break;
        }
        entries.emplace_back(text.substr(start, end - start));
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return entries;
}

bool writeSelectionFile(const std::string& path, const std::vector<std::string>& entries, std::string& error,
    std::vector<std::string>* leftOut) {
    const std::string text = formatSelectionFile(entries, leftOut);
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = dir + "/." + name + ".quern-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st { };
    mode_t mode = 0644;
    if (::stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = ::fchmod(fd, mode) == 0;
    for (std::string_view rest = text; ok && !rest.empty();) {
        const ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            ok = false;
        else
            rest.remove_prefix(static_cast<std::size_t>(n));
    }
    ok = ok && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    error = std::strerror(ok ? errno : savedErrno);
    ::unlink(temp.c_str());
    return false;
}

bool readSelectionFile(const std::string& path, std::vector<std::string>& entries, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    entries = parseSelectionFile(text);
    return true;
}

} // namespace quern
