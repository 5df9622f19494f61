#pragma once

#include "store/MemoryRegistry.h"

#include <string>
#include <vector>

namespace quern::cli {

// A hive file to mount for one command: /hive NAME=FILE, NAME below HKEY_LOCAL_MACHINE unless it
// begins with HKU\ or HKEY_USERS\ (HKLM\ and HKEY_LOCAL_MACHINE\ may be written too).
struct HiveMount {
    reg::HKey at = reg::kLocalMachine;
    std::string name; // UTF-8
    std::string file;
};

// Takes the "/hive NAME=FILE" pairs that stand before the operation off args. False, with error
// set to what is wrong, for a pair without NAME, "=" or FILE.
bool takeHiveArgs(std::vector<std::string>& args, std::vector<HiveMount>& mounts, std::string& error);

// Mounts each hive; the first failure, naming its file, and nothing mounted after it.
reg::Status mountHives(reg::MemoryRegistry& store, const std::vector<HiveMount>& mounts);

// Parses NAME=FILE as the window's --hive and the command line's /hive take it.
bool parseHiveMount(const std::string& text, HiveMount& mount, std::string& error);

} // namespace quern::cli
