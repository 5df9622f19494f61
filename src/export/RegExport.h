#pragma once

#include "registry/RegAccessor.h"
#include "selection/TreeSelection.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace quern {

// Puts a backslash before every backslash and every double quote; nothing else changes.
[[nodiscard]] std::string EscapeRegText(std::string_view text);

// The entries an export of the selection writes, in order: a value entry is left out when an entry
// already taken names the same key (its alone or recursive entry, or another of its value entries),
// since that entry's section already writes the value.
[[nodiscard]] std::vector<std::string> collectExportEntries(const std::vector<std::string>& entries);

// Writes keys and values, read live from the registry, as a "REGEDIT4" file with CR LF lines.
// The file is built beside its target under a temporary name and takes the target's place only
// when it is complete, so a failed export leaves no partial file and any earlier file untouched.
class RegFileExport {
public:
    explicit RegFileExport(reg::RegAccessor& registry);
    ~RegFileExport();
    RegFileExport(const RegFileExport&) = delete;
    RegFileExport& operator=(const RegFileExport&) = delete;

    // Starts the file with "REGEDIT4" and an empty line. False, with error(), when it cannot be made.
    bool OpenRegFile(const std::string& fileName);
    // Finishes the file and puts it in place. False, with error(), when any write failed: then
    // nothing is left of the export.
    bool CloseRegFile();

    // Writes the sections of one selection entry; with a selection, the values of a value entry's
    // key are those the selection holds.
    void ExportEntry(std::string_view entry, const TTreeSel* selection);
    void ExportTree(std::string_view text) { ExportEntry(text, nullptr); }

    [[nodiscard]] const std::string& error() const { return m_error; }
    [[nodiscard]] std::uint64_t bytesWritten() const { return m_written; }

private:
    void writeLine(std::string_view line);
    void flush();
    void writeValue(std::string_view name, std::uint32_t type, const std::vector<std::uint8_t>& raw);
    void writeKey(reg::HKey key, const std::string& path, std::string_view valueEntry, const TTreeSel* selection,
        bool withSubkeys);
    void abandon();

    reg::RegAccessor& m_registry;
    int m_fd = -1;
    std::string m_target;
    std::string m_tempPath;
    std::string m_buffer;
    std::string m_text;
    std::string m_error;
    std::uint64_t m_written = 0;
    // The keys the walk is inside: a link that leads back to one of them is not followed again.
    std::vector<std::uint64_t> m_walk;
};

} // namespace quern
