#include "selection/SelectionFile.h"

#include "codec/AtomicFile.h"
#include "codec/UniqueFd.h"

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

reg::Status writeSelectionFile(
    const std::string& path, const std::vector<std::string>& entries, std::vector<std::string>* leftOut) {
    return AtomicFile::writeWhole(path, formatSelectionFile(entries, leftOut));
}

reg::Status readSelectionFile(const std::string& path, std::vector<std::string>& entries) {
    const auto failed = [] { return reg::Status(reg::Status::ReadFailed, std::strerror(errno)); };
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return failed();
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed();
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    entries = parseSelectionFile(text);
    return reg::Status::Ok;
}

} // namespace quern
