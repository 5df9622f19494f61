#pragma once

#include "base/RegTypes.h"
#include "base/Status.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quern {

// The two forms of registry file: REGEDIT4 (UTF-8, or Windows-1252 when the bytes are not valid
// UTF-8) and "Windows Registry Editor Version 5.00" (UTF-16LE with its byte-order mark, or UTF-8).
enum class RegFileFormat { Regedit4, Version5 };

// One value line of a section.
struct RegFileValue {
    std::u16string name; // empty for the default value (@)
    bool remove = false; // "name"=- : delete the value
    std::uint32_t type = reg::kRegNone;
    std::vector<std::uint8_t> data; // the bytes as the registry keeps them (strings UTF-16LE with their NUL)
    std::size_t line = 0; // where the value line begins, from 1
};

// One [KEY] or [-KEY] section, with its values in file order.
struct RegFileKey {
    reg::HKey root = reg::kNoKey; // the predefined root the path names, short or long
    std::string rootName; // the root's long name (HKEY_LOCAL_MACHINE), whatever the file wrote
    std::u16string path; // below the root, without a leading or trailing backslash; empty for the root
    bool remove = false; // [-KEY]: delete the key with everything below it (it has no values)
    std::vector<RegFileValue> values;
    std::size_t line = 0;

    // The key's path with the root's long name, UTF-8, for messages and lists.
    [[nodiscard]] std::string fullPath() const;
};

// What a registry file says, in the order it says it.
struct RegFileContent {
    RegFileFormat format = RegFileFormat::Version5;
    std::string fileName; // as given, for messages
    std::vector<RegFileKey> keys;
};

// Reads the bytes of a registry file. Ok with content filled, or ReadFailed with "FILE:LINE:
// expected ..." (the first thing the file got wrong) and content left empty. Time is linear in the
// size of the input, however long its lines are; memory beyond the input is about the size of the
// decoded text and of the values it holds.
[[nodiscard]] reg::Status parseRegFile(std::string_view bytes, std::string_view fileName, RegFileContent& content);

// Reads the file at path and parses it; a file that cannot be read gives ReadFailed (NotFound when
// it is not there) with "FILE: " and the system's reason.
[[nodiscard]] reg::Status readRegFile(const std::string& path, RegFileContent& content);

} // namespace quern
