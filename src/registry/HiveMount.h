#pragma once

#include "base/RegTypes.h"
#include "base/Status.h"

#include <string>

namespace quern {

// A hive file to mount, as the window's --hive and the command line's /hive name it: NAME=FILE,
// NAME below HKEY_LOCAL_MACHINE unless it begins with HKU\ or HKEY_USERS\ (HKLM\ and
// HKEY_LOCAL_MACHINE\ may be written too).
struct HiveMount {
    reg::HKey at = reg::kLocalMachine;
    std::string name; // UTF-8
    std::string file;
};

// Parses NAME=FILE. BadPath, saying what is wrong, for a text without NAME, "=" or FILE, or a NAME
// that would place the hive deeper than directly below its root.
[[nodiscard]] reg::Status parseHiveMount(const std::string& text, HiveMount& mount);

} // namespace quern
