#pragma once

#include "cli/HiveArgs.h"

#include <string>
#include <vector>

namespace quern::cli {

// What stands before the operation, in any order: "/hive NAME=FILE" as often as needed, and
// "/prefix FOLDER" once, the Wine prefix to work on instead of the one WINEPREFIX (or ~/.wine)
// names.
struct LeadingArgs {
    std::vector<HiveMount> hives;
    std::string prefix; // empty when not given
};

// Takes those arguments off the front of args. BadPath, saying what is wrong, for a /hive pair
// without NAME, "=" or FILE, or a /prefix without its folder or given twice.
[[nodiscard]] reg::Status takeLeadingArgs(std::vector<std::string>& args, LeadingArgs& taken);

// Checks that the folder of /prefix is a Wine prefix: there, and holding system.reg or user.reg,
// so that a slip of the hand never makes a registry in some other folder. NotFound or BadPath,
// saying which.
[[nodiscard]] reg::Status checkPrefixFolder(const std::string& folder);

} // namespace quern::cli
