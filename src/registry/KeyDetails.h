#pragma once

#include "store/RegStore.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quern {

// What the status bar tells of the key the tree stands on: when it was last written (the time
// Wine keeps as #time, a hive keeps in the key's record), and how many subkeys and values it has.
struct KeyDetails {
    std::uint64_t lastWriteTime = 0; // FILETIME: 100 ns units since 1601; 0 where the registry keeps none
    std::uint32_t subkeyCount = 0;
    std::uint32_t valueCount = 0;
};

// The details of the key at a key path, opened for reading only. False for a path that opens no
// key (the top node's empty one, a key removed meanwhile).
bool readKeyDetails(reg::RegStore& store, std::string_view keyPath, KeyDetails& details);

// A FILETIME as the local time it stands for, "2026-12-08 14:03:07"; the empty text for 0 and for
// a time the system cannot turn into a date.
[[nodiscard]] std::string localTimeText(std::uint64_t fileTime);

// The status bar's text for a key, and for the value the grid's cursor is on when there is one:
// "Written 2026-12-08 14:03:07 · 3 subkeys · 12 values · value 4 bytes" (without the time where
// none is kept).
[[nodiscard]] std::string keyDetailsText(const KeyDetails& details, std::optional<std::size_t> valueBytes);

} // namespace quern
