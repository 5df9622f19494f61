#pragma once

#include "codec/AtomicFile.h"

#include "registry/RegAccessor.h"
#include "registry/RegU.h" // shownKeyPath, which the file's readers and the messages about it use
#include "selection/TreeSelection.h"
#include <functional>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace quern {

// The entries an export of the selection writes, in order: a value entry is left out when an entry
// already taken names the same key (its alone or recursive entry, or another of its value entries),
// since that entry's section already writes the value.
[[nodiscard]] std::vector<std::string> collectExportEntries(const std::vector<std::string>& entries);

// The two forms of a registry file. REGEDIT4 is 8-bit text that cannot hold every value: expand
// strings and multi-strings, QWORDs and other types become binary, and its readers decode
// non-ASCII text by their own code page. "Windows Registry Editor Version 5.00" (Unicode) is
// UTF-16LE with a byte-order mark and keeps every value's type and bytes.
enum class RegFileForm { Regedit4, Unicode };

// error() of an export its progress hook stopped.
inline constexpr const char* kExportCancelled = "The export was cancelled; no file was written.";

// Writes keys and values, read live from the registry, as a registry file with CR LF lines.
// The file is built beside its target under a temporary name and takes the target's place only
// when it is complete, so a failed export leaves no partial file and any earlier file untouched.
//
// A value name holding a line break is written with the \r and \n escapes Wine's regedit reads
// back. A key name cannot be: a header line has no escapes, so the break would end it and the
// values would land in another key. Such a key is left out with all below it, and named in
// leftOutKeys() for the user.
class RegFileExport {
public:
    explicit RegFileExport(reg::RegStore& store);
    ~RegFileExport();
    RegFileExport(const RegFileExport&) = delete;
    RegFileExport& operator=(const RegFileExport&) = delete;

    // Starts the file with the form's header ("REGEDIT4", or the byte-order mark and "Windows
    // Registry Editor Version 5.00") and an empty line, and forgets the keys left out of an earlier
    // file. WriteFailed, saying why, when it cannot be made.
    reg::Status OpenRegFile(const std::string& fileName, RegFileForm form = RegFileForm::Regedit4);
    // The same, for text that goes to sink as it is made (standard output) instead of a file; a
    // false from sink ends the export with WriteFailed.
    reg::Status OpenRegOutput(std::function<bool(std::string_view)> sink, RegFileForm form = RegFileForm::Regedit4);
    // Finishes the file and puts it in place. The first failure of any write (kExportCancelled when
    // progress stopped it), and then nothing is left of the export.
    reg::Status CloseRegFile();

    // Writes the sections of one selection entry; with a selection, the values of a value entry's
    // key are those the selection holds.
    void ExportEntry(std::string_view entry, const TTreeSel* selection);
    void ExportTree(std::string_view text) { ExportEntry(text, nullptr); }

    // The key paths left out because a name on them holds a line break, each once, in the order
    // the export met them.
    [[nodiscard]] const std::vector<std::string>& leftOutKeys() const { return m_leftOut; }
    // The key paths a hive file holds under names no path can reach (a backslash in one), which
    // the registry does not show and the file therefore lacks, each once.
    [[nodiscard]] const std::vector<std::string>& unreachableKeys() const { return m_unreachable; }
    [[nodiscard]] std::uint64_t bytesWritten() const { return m_written; }
    // The key sections and values the file holds so far.
    [[nodiscard]] std::uint64_t keysWritten() const { return m_keysWritten; }
    [[nodiscard]] std::uint64_t valuesWritten() const { return m_valuesWritten; }

    // Told the counts now and then while the export runs; false stops it, and CloseRegFile then
    // gives kExportCancelled and leaves nothing behind, as after any failed write.
    std::function<bool(std::uint64_t keys, std::uint64_t values)> progress;
    // True when the file was written in place, not atomically: only the file could be written,
    // not its folder.
    [[nodiscard]] bool writtenInPlace() const { return m_file.inPlace(); }

private:
    reg::Status start(RegFileForm form);
    [[nodiscard]] reg::Status failure() const; // m_error as a status
    void writeLine(std::string_view line);
    void flush();
    // The key's header, its values (all, only valueEntry, or those selected) and an empty line.
    void writeSection(reg::HKey key, const std::string& path, std::string_view valueEntry, const TTreeSel* selection);
    void writeKey(reg::HKey key, const std::string& path, std::string_view valueEntry, const TTreeSel* selection,
        bool withSubkeys);
    void leaveOut(const std::string& path);
    void noteUnreachable(reg::HKey key, const std::string& path);

    reg::RegAccessor m_registry; // its own, so an export moves no other command's key
    AtomicFile m_file;
    std::function<bool(std::string_view)> m_sink; // instead of m_file
    RegFileForm m_form = RegFileForm::Regedit4;
    std::string m_buffer; // whole lines in UTF-8, turned into the form's encoding as they are written
    std::string m_error;
    std::uint64_t m_written = 0;
    std::uint64_t m_keysWritten = 0;
    std::uint64_t m_valuesWritten = 0;
    std::vector<std::string> m_leftOut; // keys whose names the format cannot hold, each once
    std::vector<std::string> m_unreachable; // keys the registry holds but cannot show
};

} // namespace quern
