#pragma once

#include "base/Status.h"

#include <string>
#include <string_view>
#include <vector>

namespace quern {

// The key-selection file (".qks"): one entry a line, each ending in CR LF, nothing else; an empty
// selection is an empty file.

// An entry whose key or value name holds a line break cannot be a line of its own: it would load
// back as other entries. Such entries are left out, and listed in leftOut when it is given.
[[nodiscard]] std::string formatSelectionFile(
    const std::vector<std::string>& entries, std::vector<std::string>* leftOut = nullptr);

// Splits a file's text into entries: a line ends at CR, LF or CR LF; the text ends at its end or at
// its first NUL byte; a line end at the very end adds no line. Lines are taken as they are.
[[nodiscard]] std::vector<std::string> parseSelectionFile(std::string_view text);

// Writes the entries to path through a temporary file renamed over it, so that a failed save
// leaves any earlier file as it was. WriteFailed, with the system's reason, on failure.
[[nodiscard]] reg::Status writeSelectionFile(
    const std::string& path, const std::vector<std::string>& entries, std::vector<std::string>* leftOut = nullptr);

// Reads and splits a file. ReadFailed, with the system's reason, when it cannot be read; entries
// are then untouched.
[[nodiscard]] reg::Status readSelectionFile(const std::string& path, std::vector<std::string>& entries);

} // namespace quern
