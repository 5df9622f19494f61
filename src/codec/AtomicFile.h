#pragma once

#include "base/Status.h"
#include "codec/UniqueFd.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

struct stat;

namespace quern {

// Makes a hard link; link(2) when empty. Tests stand in a file system that refuses them.
using LinkFunction = std::function<int(const char* from, const char* to)>;

// The content a file had before a write that is one of several replaced it, kept beside it under a
// name of its own (.NAME.quern-old-XXXXXX) until the whole batch is in place, so that a later
// failure of the batch can put it back. A hard link to the old file costs nothing; where the file
// system refuses hard links, the old content is copied beside it and flushed instead, which costs
// one read and write of the file but keeps the same promise. A file that did not exist keeps
// nothing, and putting it back removes the new one.
class KeptOriginal {
public:
    KeptOriginal() = default;
    ~KeptOriginal(); // the batch is kept: the old content goes
    KeptOriginal(const KeptOriginal&) = delete;
    KeptOriginal& operator=(const KeptOriginal&) = delete;

    // Keeps what target holds now. WriteFailed, with the system's words, when it cannot be kept.
    reg::Status keep(const std::string& target, const LinkFunction& link);
    // What putting the old content back came to, step by step.
    struct PutBack {
        // Ok: the old content is in place again. WriteFailed, with the system's words, when it
        // could not be put back: the kept name then stays, so that it can be put back by hand.
        reg::Status back;
        // Once it is back: WriteFailed, saying so, when its folder could not be flushed to disk.
        reg::Status flushed;
    };
    // Puts the old content back in place of the new and flushes the folder (through syncFolder
    // when set).
    [[nodiscard]] PutBack putBack(const std::function<int(int folderFd)>& syncFolder);
    // The new content stays: the kept name goes.
    void drop();
    [[nodiscard]] bool holds() const { return m_holds; }
    [[nodiscard]] const std::string& keptPath() const { return m_kept; }

private:
    std::string m_target;
    std::string m_kept; // empty when the target did not exist
    bool m_holds = false;
};

// Whether a folder entry is a kept original of the file named base (one a crash left behind):
// never the live file, and never one of its own names.
[[nodiscard]] bool isKeptOriginalName(std::string_view entry, std::string_view base);

// How many other names (hard links) the file at path has, whose stat is st: the kept originals a
// write left beside it when a crash interrupted it do not count.
[[nodiscard]] nlink_t otherNames(const std::string& path, const struct stat& st);

// What a file was like when it was last read or written: a file that differs has been changed by
// someone else and must not be overwritten.
struct FileStamp {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    long long size = -1;
    long long modifiedSeconds = 0;
    long long modifiedNanoseconds = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
[[nodiscard]] FileStamp stampOf(const struct stat& st);

// Puts the file at temp in place of target while target is still the file expected describes
// (no file, when its size is negative); temp is then cleared, its name being gone. ChangedOnDisk:
// target was not, and stays as someone else left it, temp too; rarely, the other program's file
// went to temp and could not be put back: the message then says where it is, Quern's file is in
// place and temp is cleared, since the name holds the other program's file. WriteFailed, with the
// system's words: target is as it was.
[[nodiscard]] reg::Status replaceIfStill(std::string& temp, const std::string& target, const FileStamp& expected);

// Flushes a folder (through hook when set, else fsync); 0, or the errno of the failure. A file
// system that cannot flush folders (EINVAL) counts as flushed.
[[nodiscard]] int flushFolder(const std::string& folder, const std::function<int(int folderFd)>& hook);

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
        // Keeps the old file for replace(true); link(2) when empty.
        LinkFunction link;
    };

    AtomicFile() = default;
    ~AtomicFile(); // a content never committed is thrown away; the file stays as it was
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Starts the new content of path. WriteFailed, with the reason, when neither a temporary file
    // nor the file itself can be written.
    reg::Status open(const std::string& path);
    // The same, for a writer that must not write in place: without a temporary file, it fails.
    reg::Status open(const std::string& path, bool allowInPlace, Hooks hooks);
    // Adds to the new content. Once anything failed, that first failure again: it is kept.
    reg::Status write(std::string_view data);
    // Makes the new content the file's. When it could not, the status says why and the file is as
    // it was (unless it was being written in place).
    reg::Status commit();
    // commit() in its three steps, each failing with the reason. After flush the new content is on
    // disk and only the rename is left; a failed flush or replace leaves the file as it was.
    reg::Status flush();
    // keepOriginal: the old content stays reachable beside the file until keepReplaced() or
    // putBack(), for a writer that replaces several files and must be able to take them all back.
    reg::Status replace(bool keepOriginal = false);
    reg::Status syncFolder();
    // After replace(true): the old content goes back in place of the new and the folder is
    // flushed (when it cannot go back, it stays beside it, under keptPath()). keepReplaced() lets
    // the new content stay for good.
    [[nodiscard]] KeptOriginal::PutBack putBack() { return m_original.putBack(m_hooks.syncFolder); }
    void keepReplaced() { m_original.drop(); }
    [[nodiscard]] const std::string& keptPath() const { return m_original.keptPath(); }
    // Throws the new content away.
    void abandon();
    // replace() goes on only while the target is still the file stamp describes, the one the
    // content was made from; else it fails with ChangedOnDisk, and the target stays as someone
    // else left it.
    void expectTarget(const FileStamp& stamp) { m_expected = stamp; }

    [[nodiscard]] bool inPlace() const { return m_inPlace; }
    [[nodiscard]] bool isOpen() const { return m_fd.valid(); }
    // The file replaced, after following symbolic links, and its folder.
    [[nodiscard]] const std::string& target() const { return m_target; }
    [[nodiscard]] std::string folder() const;

    // open, write and commit in one; WriteFailed with the reason on failure.
    static reg::Status writeWhole(const std::string& path, std::string_view content, bool* inPlace = nullptr);

private:
    reg::Status fail(reg::Status failure);
    reg::Status fail(std::string what) { return fail(reg::Status(reg::Status::WriteFailed, std::move(what))); }
    reg::Status stillExpected();
    reg::Status changedMeanwhile();
    reg::Status exchangeExpected();

    UniqueFd m_fd;
    bool m_inPlace = false;
    Hooks m_hooks;
    std::string m_target; // the file the content is for, after following symbolic links
    std::string m_temp;
    reg::Status m_failure; // the first failure since open, which every later step gives again
    KeptOriginal m_original;
    std::optional<FileStamp> m_expected;
};

// The file a path names after following its symbolic links (to a file that need not exist yet);
// the path itself when it is no link. Relative links count from the link's own folder.
[[nodiscard]] std::string resolveLinks(const std::string& path);

} // namespace quern
