#pragma once

#include "base/Status.h"
#include "codec/UniqueFd.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>

struct stat;

namespace quern {

// Reading a file the user named, which may be anything: a device that never ends (/dev/zero), a
// FIFO that waits for a writer forever, a file in /proc that fails to read, or a file far larger
// than any registry. Only regular files are read, up to a limit, and every failure is a sentence.
//
// Each reader returns a Status: Ok; NotFound, without words, for a file that is not there; or
// ReadFailed, whose message is the words that follow the file's name ("is a character device, not
// a regular file"), for the caller to put after the name it shows.

// What kind of file a mode names, for a message ("a character device").
[[nodiscard]] std::string kindOfFile(mode_t mode);

// The limit in words ("1 GiB").
[[nodiscard]] std::string sizeText(long long bytes);

// The largest file a reader takes, and how it words the files it refuses. Left null, the words are
// those of a registry file ("is a FIFO (a named pipe), not a regular file", "is larger than 1 GiB
// (...), more than any registry file"); a reader with words of its own (the hive's) passes them.
struct FileLimit {
    long long maxSize = 0;
    std::string (*notRegular)(mode_t mode) = nullptr;
    std::string (*tooLarge)(long long maxSize, long long size) = nullptr;
    // A file that is not there is refused as unreadable (its system error in the words), not
    // NotFound, for a reader to whom a missing file is as wrong as any other.
    bool mustExist = false;
};

// Opens path for reading, without blocking on a FIFO, and checks that it is a regular file of at
// most limit.maxSize bytes. fd holds the file only when the result is Ok.
[[nodiscard]] reg::Status openRegularFile(
    const std::string& path, const FileLimit& limit, UniqueFd& fd, struct stat& st);

// Reads an open file to its end, a piece at a time into take; ReadFailed when it cannot be read or
// grows past maxSize. read gets how much there was.
[[nodiscard]] reg::Status readToEnd(
    int fd, long long maxSize, std::uint64_t& read, const std::function<void(std::string_view)>& take);

// openRegularFile and a read of the whole file into content. st gets the file's status as opened,
// with st_size set to what was read.
[[nodiscard]] reg::Status readRegularFile(
    const std::string& path, const FileLimit& limit, std::string& content, struct stat& st);
[[nodiscard]] inline reg::Status readRegularFile(
    const std::string& path, long long maxSize, std::string& content, struct stat& st) {
    return readRegularFile(path, FileLimit { maxSize }, content, st);
}

} // namespace quern
