#pragma once

#include <string>
#include <string_view>

namespace quern {

// Writes a whole file so that a reader, a crash or a full disk sees the old content or the new,
// never part of either: the content goes to a temporary file beside the target, is flushed to
// disk, and is renamed over the target, whose folder is flushed too. The file keeps its
// permissions; a new one gets the usual ones under the umask.
//
// A symbolic link is written through: the file it leads to gets the new content and the link
// stays a link. A file that can be written in a folder that cannot (no temporary file can be made
// beside it) is written in place instead, which is not atomic: inPlace() then tells the caller,
// who says so to the user.
class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile(); // a content never committed is thrown away; the file stays as it was
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Starts the new content of path. False, with error() telling why, when neither a temporary
    // file nor the file itself can be written.
    bool open(const std::string& path);
    // Adds to the new content. False once anything failed; the error is kept.
    bool write(std::string_view data);
    // Makes the new content the file's. False, with error() telling why, when it could not; the
    // file is then as it was (unless it was being written in place).
    bool commit();
    // Throws the new content away.
    void abandon();

    [[nodiscard]] const std::string& error() const { return m_error; }
    [[nodiscard]] bool inPlace() const { return m_inPlace; }
    [[nodiscard]] bool isOpen() const { return m_fd >= 0; }

    // open, write and commit in one; error is set on failure.
    static bool writeWhole(
        const std::string& path, std::string_view content, std::string& error, bool* inPlace = nullptr);

private:
    bool fail(std::string what);

    int m_fd = -1;
    bool m_inPlace = false;
    std::string m_target; // the file the content is for, after following symbolic links
    std::string m_temp;
    std::string m_error;
};

// The file a path names after following its symbolic links (to a file that need not exist yet);
// the path itself when it is no link. Relative links count from the link's own folder.
[[nodiscard]] std::string resolveLinks(const std::string& path);

} // namespace quern
