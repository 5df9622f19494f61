#pragma once

#include "base/RegTypes.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace quern::cli {

enum class Operation { Query, Add, Delete, Copy, Export, Find, Import, Compare, Diff, Prefixes };

// A key as the command line names it: a root, short or long (HKLM, HKEY_LOCAL_MACHINE), and the
// path below it.
struct KeyArg {
    reg::HKey root = reg::kNoKey;
    std::string rootName; // always the long name, as output shows it
    std::string path; // UTF-8, without a leading or trailing backslash; empty for the root itself
    [[nodiscard]] std::string fullName() const { return path.empty() ? rootName : rootName + "\\" + path; }
};

struct RegArgs {
    Operation operation = Operation::Query;
    KeyArg key;
    KeyArg target; // copy: the destination
    std::optional<std::string> valueName; // /v
    bool defaultValue = false; // /ve
    bool allValues = false; // /va
    bool recurse = false; // /s of query and copy
    bool force = false; // /f, and /y of export
    std::optional<std::string> typeName; // /t, as given
    std::optional<char16_t> separator; // /s of add
    std::optional<std::string> data; // /d
    std::string file; // export: the file to write; import and compare: the file to read (compare: OLD)
    std::string newerFile; // compare OLD.reg NEW.reg: the newer backup; empty when comparing with the registry
    std::string selectionFile; // export --selection: the saved key selection
    bool regedit4 = false; // export /regedit4 and /unicode: the file's form, when one is asked for
    bool unicode = false;
    std::string expression; // find: what to look for
    std::string from; // find /from: a key path or value path with full root names; empty for the top
    bool findKeys = false; // find /k, /v, /d: what is tested (none given: all three)
    bool findValueNames = false;
    bool findData = false;
    // diff LEFT RIGHT: each side a key (key, target) or a .reg file (file, newerFile), the key in
    // the registry of /left or /right (a prefix folder or a hive file) when given.
    std::string leftRegistry;
    std::string rightRegistry;
    std::string sourceRegistry; // copy /from: the registry KEY1 is in
    std::string outFile; // /out: the .reg file that turns LEFT into RIGHT
    bool reverse = false; // /reverse: RIGHT into LEFT
};

// Reads a command line (without the program's name). True when there is work for the registry,
// with parsed filled. Otherwise the help asked for has been written to out (exitCode 0), or what
// is wrong with the arguments and the usage to err (exitCode 1, and 2 for compare, whose 1 means
// that something differs); no registry is needed for either.
bool parseRegArgs(
    const std::vector<std::string>& args, RegArgs& parsed, std::ostream& out, std::ostream& err, int& exitCode);

} // namespace quern::cli
