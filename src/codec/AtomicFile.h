#pragma once

#include <functional>
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
//
// A writer that replaces several files as one (the registry store) opens each without the in-place
// way out, flushes them all, and only then replaces them: commit() in three steps.
class AtomicFile {
public:
    struct Hooks {
        // Called with the complete temporary file just before it replaces the target: the moment a
        // crash or a competing program is most tempting to test.
        std::function<void(const std::string& tempPath)> beforeRename;
        // Flushes the target's folder after the rename; fsync() when empty. Tests make it fail.
        std::function<int(int folderFd)> syncFolder;
    };

    AtomicFile() = default;
    ~AtomicFile(); // a content never committed is thrown away; the file stays as it was
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Starts the new content of path. False, with error() telling why, when neither a temporary
    // file nor the file itself can be written.
    bool open(const std::string& path);
    // The same, for a writer that must not write in place: without a temporary file, it fails.
    bool open(const std::string& path, bool allowInPlace, Hooks hooks);
    // Adds to the new content. False once anything failed; the error is kept.
    bool write(std::string_view data);
    // Makes the new content the file's. False, with error() telling why, when it could not; the
    // file is then as it was (unless it was being written in place).
    bool commit();
    // commit() in its three steps, each false with error() telling why. After flush the new content
    // is on disk and only the rename is left; a failed flush or replace leaves the file as it was.
    bool flush();
    bool replace();
    bool syncFolder();
    // Throws the new content away.
    void abandon();

    [[nodiscard]] const std::string& error() const { return m_error; }
    [[nodiscard]] bool inPlace() const { return m_inPlace; }
    [[nodiscard]] bool isOpen() const { return m_fd >= 0; }
    // The file replaced, after following symbolic links, and its folder.
    [[nodiscard]] const std::string& target() const { return m_target; }
    [[nodiscard]] std::string folder() const;

    // open, write and commit in one; error is set on failure.
    static bool writeWhole(
        const std::string& path, std::string_view content, std::string& error, bool* inPlace = nullptr);

private:
    bool fail(std::string what);

    int m_fd = -1;
    bool m_inPlace = false;
    Hooks m_hooks;
    std::string m_target; // the file the content is for, after following symbolic links
    std::string m_temp;
    std::string m_error;
};

// The file a path names after following its symbolic links (to a file that need not exist yet);
// the path itself when it is no link. Relative links count from the link's own folder.
[[nodiscard]] std::string resolveLinks(const std::string& path);

} // namespace quern
