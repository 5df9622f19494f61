#pragma once

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

enum class ReadResult { Ok, Missing, Refused };

// What kind of file a mode names, for a message ("a character device").
[[nodiscard]] std::string kindOfFile(mode_t mode);

// The limit in words ("1 GiB").
[[nodiscard]] std::string sizeText(long long bytes);

// Opens path for reading, without blocking on a FIFO, and checks that it is a regular file of at
// most maxSize bytes. Refused: why says what is wrong, as words that follow the file's name
// ("is a character device, not a regular file"); fd is then -1.
[[nodiscard]] ReadResult openRegularFile(
    const std::string& path, long long maxSize, int& fd, struct stat& st, std::string& why);

// Reads an open file to its end, a piece at a time into take. False, with why, when it cannot be
// read or grows past maxSize; read gets how much there was.
[[nodiscard]] bool readToEnd(int fd, long long maxSize, std::uint64_t& read, std::string& why,
    const std::function<void(std::string_view)>& take);

// openRegularFile and a read of the whole file into content. st gets the file's status as opened,
// with st_size set to what was read.
[[nodiscard]] ReadResult readRegularFile(
    const std::string& path, long long maxSize, std::string& content, struct stat& st, std::string& why);

} // namespace quern
