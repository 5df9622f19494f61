#include "cli/RegArgs.h"

#include "codec/Utf.h"

#include <array>
#include <ostream>
#include <string_view>

namespace quern::cli {

namespace {

constexpr std::size_t kMaxKeyNameLength = 255; // UTF-16 units, as the registry limits them
constexpr std::size_t kMaxValueNameLength = 16383;

struct RootName {
    std::string_view shortName;
    std::string_view longName;
    reg::HKey handle;
};

constexpr std::array<RootName, 5> kRoots { {
    { "HKLM", "HKEY_LOCAL_MACHINE", reg::kLocalMachine },
    { "HKCU", "HKEY_CURRENT_USER", reg::kCurrentUser },
    { "HKCR", "HKEY_CLASSES_ROOT", reg::kClassesRoot },
    { "HKU", "HKEY_USERS", reg::kUsers },
    { "HKCC", "HKEY_CURRENT_CONFIG", reg::kCurrentConfig },
} };

constexpr std::string_view kRootList = "\n"
                                       "  KEY is ROOT\\Subkey, where ROOT is one of\n"
                                       "      HKEY_LOCAL_MACHINE  | HKLM\n"
                                       "      HKEY_CURRENT_USER   | HKCU\n"
                                       "      HKEY_CLASSES_ROOT   | HKCR\n"
                                       "      HKEY_USERS          | HKU\n"
                                       "      HKEY_CURRENT_CONFIG | HKCC\n"
                                       "  and Subkey is the path of a key below it.\n";

constexpr std::string_view kGeneralUsage
    = "Usage: quern-reg OPERATION [PARAMETERS]\n"
      "\n"
      "  quern-reg query  KEY [/v NAME | /ve] [/s]\n"
      "  quern-reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
      "  quern-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
      "  quern-reg copy   KEY1 KEY2 [/s] [/f] [/from REGISTRY]\n"
      "  quern-reg export KEY FILE [/y] [/regedit4 | /unicode]\n"
      "  quern-reg export --selection SELECTION.qks FILE [/y] [/regedit4 | /unicode]\n"
      "  quern-reg find   EXPRESSION [/from POSITION] [/k] [/v] [/d]\n"
      "  quern-reg import FILE\n"
      "  quern-reg compare FILE [KEY]\n"
      "  quern-reg compare OLD.reg NEW.reg\n"
      "  quern-reg diff   LEFT RIGHT [/left REGISTRY] [/right REGISTRY] [/out FILE] [/reverse]\n"
      "  quern-reg prefixes\n"
      "  quern-reg --version\n"
      "\n"
      "Switches begin with / or -, in any letter case. The registry is the Wine prefix that\n"
      "WINEPREFIX names, else ~/.wine, else Quern's own registry. Exit code 0 means success.\n"
      "/hive NAME=FILE before the operation loads a Windows hive file (SYSTEM, NTUSER.DAT, ...)\n"
      "as HKEY_LOCAL_MACHINE\\NAME (HKU\\NAME=FILE: below HKEY_USERS) for that command; with no\n"
      "Wine prefix, only the loaded hives can be changed. /prefix FOLDER before the operation\n"
      "works on the Wine prefix in FOLDER instead.\n"
      "For the details of one operation: quern-reg OPERATION /?\n";

struct OperationInfo {
    std::string_view name;
    Operation operation;
    std::string_view synopsis;
    std::string_view details;
};

constexpr std::array<OperationInfo, 10> kOperations { {
    { "query", Operation::Query, "quern-reg query KEY [/v NAME | /ve] [/s]\n",
        "\n"
        "  Lists the values of KEY and the names of its subkeys.\n"
        "\n"
        "  /v NAME  Shows only the value NAME.\n"
        "  /ve      Shows only the default value, (Default).\n"
        "  /s       Goes through every subkey below KEY as well.\n" },
    { "add", Operation::Add, "quern-reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n",
        "\n"
        "  Creates KEY where it is missing and, when /v, /ve, /t or /d is given, sets a value in it.\n"
        "\n"
        "  /v NAME       The value to set.\n"
        "  /ve           Sets the default value, (Default); so does /d without /v.\n"
        "  /t TYPE       REG_SZ (when /t is not given), REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD,\n"
        "                REG_QWORD, REG_BINARY or REG_NONE.\n"
        "  /s SEPARATOR  The one character between the strings of REG_MULTI_SZ data; \\0 when not given.\n"
        "  /d DATA       The data: text; a number, decimal or 0x and hex, for REG_DWORD and REG_QWORD;\n"
        "                hex digits for REG_BINARY.\n"
        "  /f            Replaces an existing value without asking.\n" },
    { "delete", Operation::Delete, "quern-reg delete KEY [/v NAME | /ve | /va] [/f]\n",
        "\n"
        "  Deletes KEY with all its subkeys and values, or values of KEY.\n"
        "\n"
        "  /v NAME  Deletes the value NAME.\n"
        "  /ve      Deletes the default value, (Default).\n"
        "  /va      Deletes all values of KEY and keeps its subkeys.\n"
        "  /f       Deletes without asking.\n" },
    { "copy", Operation::Copy, "quern-reg copy KEY1 KEY2 [/s] [/f] [/from REGISTRY]\n",
        "\n"
        "  Copies the values of KEY1 into KEY2, creating KEY2 where it is missing. Values and\n"
        "  subkeys that only KEY2 has are kept. Link keys are copied as links.\n"
        "\n"
        "  /s  Copies all subkeys of KEY1 with their values as well.\n"
        "  /f  Replaces values that KEY2 already has without asking.\n"
        "  /from REGISTRY  KEY1 is a key of that registry: a Wine prefix's folder, or a hive\n"
        "                  file (its keys below HKLM\\NAME, NAME its file's name upper-cased).\n" },
    { "export", Operation::Export,
        "quern-reg export KEY FILE [/y] [/regedit4 | /unicode]\n"
        "quern-reg export --selection SELECTION.qks FILE [/y] [/regedit4 | /unicode]\n",
        "\n"
        "  Writes KEY with all its subkeys and values to FILE, or the keys of a saved key selection\n"
        "  as Quern's window exports them. KEY is written as \"Windows Registry Editor Version\n"
        "  5.00\" (UTF-16), which keeps every value's type and bytes; a selection as REGEDIT4, as\n"
        "  the window writes it.\n"
        "\n"
        "  /y         Replaces an existing FILE without asking.\n"
        "  /regedit4  Writes REGEDIT4: 8-bit text; expand strings, multi-strings, QWORDs and other\n"
        "             types become binary data.\n"
        "  /unicode   Writes \"Windows Registry Editor Version 5.00\".\n" },
    { "find", Operation::Find, "quern-reg find EXPRESSION [/from POSITION] [/k] [/v] [/d]\n",
        "\n"
        "  Lists every key and value that EXPRESSION matches, one a line, in the order Quern's\n"
        "  Search again meets them: a key as its path, a value as its key's path, two backslashes\n"
        "  and its name (nothing after them for the default value). EXPRESSION is made of\n"
        "  wildcard terms (* any text, ? one character) joined by \" AND \" and \" OR \", each may\n"
        "  begin with \"NOT \"; letter case does not count. Exit code 1 when nothing matches.\n"
        "\n"
        "  /from POSITION  Starts after POSITION, a key path or a value path (KEY\\\\NAME), as\n"
        "                  the window does from the key or value it shows; without it, the walk\n"
        "                  goes through HKEY_LOCAL_MACHINE, then HKEY_USERS.\n"
        "  /k              Tests key names.\n"
        "  /v              Tests value names.\n"
        "  /d              Tests value data as text (strings, DWORDs as signed decimal numbers,\n"
        "                  binary data byte by byte). None of /k, /v, /d: all three.\n" },
    { "import", Operation::Import, "quern-reg import FILE\n",
        "\n"
        "  Imports a registry file (REGEDIT4 or Windows Registry Editor Version 5.00) as one change:\n"
        "  all of it is written, or, when any line cannot be read or applied, none of it.\n" },
    { "compare", Operation::Compare,
        "quern-reg compare FILE [KEY]\n"
        "quern-reg compare OLD.reg NEW.reg\n",
        "\n"
        "  Lists what importing FILE would change, one change a line (keys and values added,\n"
        "  changed and deleted, with the old and new data), and writes nothing; with KEY, only\n"
        "  what is at or below KEY. With two files, lists what differs from the backup OLD.reg\n"
        "  to the backup NEW.reg. A second argument that begins with a root (HKLM, ...) is a key.\n"
        "  Exit code 0 when nothing differs, 1 when something does, 2 on an error.\n" },
    { "diff", Operation::Diff, "quern-reg diff LEFT RIGHT [/left REGISTRY] [/right REGISTRY] [/out FILE] [/reverse]\n",
        "\n"
        "  Lists what differs from LEFT to RIGHT, each a key with everything below it or a registry\n"
        "  file: keys and values only on the right (added), only on the left (deleted) and changed,\n"
        "  one a line as compare lists them. Two keys may have different paths: the changes are\n"
        "  named by LEFT's. A file compared with a key is read at that key's path; two files are\n"
        "  compared whole. Exit code 0 when nothing differs, 1 when something does, 2 on an error.\n"
        "\n"
        "  /left REGISTRY   LEFT is a key of that registry: a Wine prefix's folder or a hive file\n"
        "                   (its keys below HKLM\\NAME, NAME its file's name upper-cased).\n"
        "  /right REGISTRY  The same for RIGHT. Without them, a key is of the registry the\n"
        "                   command opens (/prefix, /hive, WINEPREFIX).\n"
        "  /out FILE        Also writes FILE, a \"Windows Registry Editor Version 5.00\" file\n"
        "                   that turns LEFT into RIGHT when imported where LEFT is.\n"
        "  /reverse         The other way: the changes, and FILE, from RIGHT to LEFT.\n" },
    { "prefixes", Operation::Prefixes, "quern-reg prefixes\n",
        "\n"
        "  Lists every Wine registry in the home folder, one a line: its name, its kind and its\n"
        "  folder, separated by tabs. The kinds, in the order of the list: Wine (WINEPREFIX), Wine\n"
        "  (~/.wine), Quern (Quern's own registry), Steam, Lutris, Bottles, PlayOnLinux, Heroic,\n"
        "  CrossOver; within a kind by name, letter case aside, then by folder. A folder is listed\n"
        "  once, under the first kind that names it. A backslash, tab, line break or other control\n"
        "  character in a field is written as \\\\, \\t, \\n, \\r or \\xHH. Files of the launchers\n"
        "  that cannot be read are named on standard error, and the rest is listed all the same.\n"
        "  Any folder of the list can be given to /prefix.\n" },
} };

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = lowerAscii(c);
    return result;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && lowered(text.substr(0, prefix.size())) == lowered(prefix);
}

bool isHelpSwitch(std::string_view arg) {
    const std::string text = lowered(arg);
    return text == "/?" || text == "-?" || text == "/h" || text == "-h" || text == "--help";
}

bool isValidUtf8(std::string_view text) {
    std::u16string ignored;
    for (std::size_t pos = 0; pos < text.size();) {
        if (static_cast<unsigned char>(text[pos]) < 0x80)
            ++pos;
        else if (!reg::decodeUtf8Char(text, pos, ignored))
            return false;
    }
    return true;
}

bool parseKey(std::string_view text, KeyArg& key, std::string& error) {
    std::string quoted(1, '\'');
    quoted += text;
    quoted += '\'';
    if (text.starts_with("\\\\")) {
        error = "Remote registries cannot be reached: " + quoted + " names another computer.";
        return false;
    }
    const RootName* root = nullptr;
    for (const auto& candidate : kRoots) {
        for (std::string_view name : { candidate.shortName, candidate.longName }) {
            if (startsWithIgnoringCase(text, name) && (text.size() == name.size() || text[name.size()] == '\\')) {
                root = &candidate;
                text.remove_prefix(name.size());
                break;
            }
        }
        if (root) break;
    }
    if (!root) {
        error = quoted + " is not a registry key: a key begins with HKLM, HKCU, HKCR, HKU or HKCC.";
        return false;
    }
    const std::size_t afterRoot = text.size();
    if (!text.empty()) text.remove_prefix(1);
    if (text.ends_with('\\')) {
        text.remove_suffix(1); // one closing backslash is allowed, as after a folder
        if (text.empty() && afterRoot > 1) {
            error = quoted + " is not a valid key: it has an empty key name.";
            return false;
        }
    }
    key.root = root->handle;
    key.rootName = std::string(root->longName);
    // A name shown with an odd unit escaped (<U+DC00>) names the key that holds that unit.
    key.path = reg::unescapeLoneSurrogates(text);
    text = key.path;
    for (std::size_t start = 0; !text.empty();) {
        const std::size_t slash = text.find('\\', start);
        const std::string_view name = text.substr(start, slash == std::string_view::npos ? text.npos : slash - start);
        if (name.empty()) {
            error = quoted + " is not a valid key: it has an empty key name.";
            return false;
        }
        if (reg::toUtf16(name).size() > kMaxKeyNameLength) {
            error = quoted + " has a key name longer than 255 characters.";
            return false;
        }
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return true;
}

// A search position as the window makes them: the key's path with its root named in full, and for a
// value two backslashes and its name.
bool parsePosition(const std::string& text, std::string& position, std::string& error) {
    const std::size_t separator = text.find("\\\\");
    KeyArg key;
    if (!parseKey(text.substr(0, separator), key, error)) return false;
    position = key.fullName();
    if (separator != std::string::npos) position += "\\\\" + reg::unescapeLoneSurrogates(text.substr(separator + 2));
    return true;
}

class ArgParser {
public:
    ArgParser(const std::vector<std::string>& args, const OperationInfo& info, RegArgs& parsed)
        : m_args(args)
        , m_info(info)
        , m_parsed(parsed) { }

    // Fills parsed from the arguments after the operation's name; false with error set when
    // they do not make a valid command.
    bool parse(std::string& error);

private:
    bool parseSwitch(std::string_view name, std::size_t& i, std::string& error);
    // The separator of add's /s: one character, given once.
    bool parseSeparator(std::size_t& i, std::string& error);
    bool parseFiles(std::size_t& first, std::string& error);

    const std::vector<std::string>& m_args;
    const OperationInfo& m_info;
    RegArgs& m_parsed;
};

bool ArgParser::parse(std::string& error) {
    const Operation op = m_info.operation;
    std::size_t first = 1; // prefixes: nothing but switches, and none of them its own
    if (op == Operation::Export && m_args.size() > 1 && m_args[1] == "--selection") {
        if (m_args.size() < 4) {
            error = "export --selection needs the selection file and the file to write.";
            return false;
        }
        m_parsed.selectionFile = m_args[2];
        m_parsed.file = m_args[3];
        first = 4;
    } else if (op == Operation::Import || op == Operation::Compare) {
        if (!parseFiles(first, error)) return false;
    } else if (op == Operation::Diff) {
        if (m_args.size() < 3 || m_args[1].empty() || m_args[2].empty()) {
            error = "diff needs two sides, each a key or a registry file.";
            return false;
        }
        // A side that does not begin with a root is a file.
        std::string keyError;
        if (!parseKey(m_args[1], m_parsed.key, keyError)) m_parsed.key = {}, m_parsed.file = m_args[1];
        if (!parseKey(m_args[2], m_parsed.target, keyError)) m_parsed.target = {}, m_parsed.newerFile = m_args[2];
        first = 3;
    } else if (op == Operation::Find) {
        if (m_args.size() < 2 || m_args[1].empty()) {
            error = "find needs an expression.";
            return false;
        }
        m_parsed.expression = m_args[1];
        first = 2;
    } else if (op != Operation::Prefixes) {
        const std::size_t positional = op == Operation::Copy || op == Operation::Export ? 2 : 1;
        if (m_args.size() < 1 + positional) {
            error = op == Operation::Copy
                ? "copy needs two keys."
                : (op == Operation::Export ? "export needs a key and a file." : "No key was given.");
            return false;
        }
        if (!parseKey(m_args[1], m_parsed.key, error)) return false;
        if (op == Operation::Copy && !parseKey(m_args[2], m_parsed.target, error)) return false;
        if (op == Operation::Export) m_parsed.file = m_args[2];
        first = 1 + positional;
    }
    for (std::size_t i = first; i < m_args.size(); ++i) {
        const std::string& arg = m_args[i];
        if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) {
            error = "'" + arg + "' is not a switch: switches begin with / or -.";
            return false;
        }
        if (!parseSwitch(lowered(std::string_view(arg).substr(1)), i, error)) {
            if (error.empty()) error = "'" + arg + "' is not a switch of " + std::string(m_info.name) + ".";
            return false;
        }
    }
    if ((m_parsed.valueName ? 1 : 0) + (m_parsed.defaultValue ? 1 : 0) + (m_parsed.allValues ? 1 : 0) > 1) {
        error = op == Operation::Delete ? "Only one of /v, /ve and /va can be given."
                                        : "Only one of /v and /ve can be given.";
        return false;
    }
    if (m_parsed.regedit4 && m_parsed.unicode) {
        error = "Only one of /regedit4 and /unicode can be given.";
        return false;
    }
    if (m_parsed.valueName) *m_parsed.valueName = reg::unescapeLoneSurrogates(*m_parsed.valueName);
    if (m_parsed.valueName && reg::toUtf16(*m_parsed.valueName).size() > kMaxValueNameLength) {
        error = "The value name is longer than 16383 characters.";
        return false;
    }
    return true;
}

// import FILE, compare FILE [KEY] and compare OLD NEW: no switches follow.
bool ArgParser::parseFiles(std::size_t& first, std::string& error) {
    const bool compare = m_info.operation == Operation::Compare;
    if (m_args.size() < 2 || m_args[1].empty()) {
        error = std::string(m_info.name) + " needs a file.";
        return false;
    }
    if (m_args.size() > (compare ? 3 : 2)) {
        error = compare ? "compare takes a file and a key, or two files." : "import takes one file.";
        return false;
    }
    m_parsed.file = m_args[1];
    first = m_args.size();
    if (m_args.size() < 3) return true;
    std::string keyError;
    if (!parseKey(m_args[2], m_parsed.key, keyError)) {
        m_parsed.key = {};
        m_parsed.newerFile = m_args[2];
    }
    return true;
}

bool ArgParser::parseSwitch(std::string_view name, std::size_t& i, std::string& error) {
    const Operation op = m_info.operation;
    std::string shown(1, '/');
    shown += name;
    auto flag = [&](bool& set) {
        if (set) error = shown + " is given twice.";
        return !set && (set = true);
    };
    auto text = [&](std::optional<std::string>& into, std::string_view what) {
        if (into) {
            error = shown + " is given twice.";
            return false;
        }
        if (i + 1 >= m_args.size()) {
            error = shown + " needs " + std::string(what) + ".";
            return false;
        }
        into = m_args[++i];
        return true;
    };
    const bool valueSwitches = op == Operation::Query || op == Operation::Add || op == Operation::Delete;
    if (op == Operation::Prefixes) return false;
    if (op == Operation::Diff) {
        std::optional<std::string> value;
        auto named = [&](std::string& into, std::string_view what) {
            if (!into.empty()) {
                error = shown + " is given twice.";
                return false;
            }
            if (!text(value, what)) return false;
            into = *value;
            return !into.empty() || (error = shown + " needs " + std::string(what) + ".", false);
        };
        if (name == "left") return named(m_parsed.leftRegistry, "a prefix folder or a hive file");
        if (name == "right") return named(m_parsed.rightRegistry, "a prefix folder or a hive file");
        if (name == "out") return named(m_parsed.outFile, "a file");
        if (name == "reverse") return flag(m_parsed.reverse);
        return false;
    }
    if (name == "reg:64") return true; // the registry's own view: what is always shown here
    if (name == "reg:32") {
        error = "/reg:32 (the 32-bit view) is not supported; name the key below Wow6432Node instead.";
        return false;
    }
    if (op == Operation::Find) {
        if (name == "k") return flag(m_parsed.findKeys);
        if (name == "v") return flag(m_parsed.findValueNames);
        if (name == "d") return flag(m_parsed.findData);
        if (name == "from") {
            std::optional<std::string> position;
            return text(position, "a key path or value path") && parsePosition(*position, m_parsed.from, error);
        }
        return false;
    }
    if (name == "from" && op == Operation::Copy) {
        std::optional<std::string> registry;
        if (!m_parsed.sourceRegistry.empty()) {
            error = shown + " is given twice.";
            return false;
        }
        if (!text(registry, "a prefix folder or a hive file")) return false;
        m_parsed.sourceRegistry = *registry;
        return !registry->empty() || (error = shown + " needs a prefix folder or a hive file.", false);
    }
    if (name == "v" && valueSwitches) return text(m_parsed.valueName, "a value name");
    if (name == "ve" && valueSwitches) return flag(m_parsed.defaultValue);
    if (name == "va" && op == Operation::Delete) return flag(m_parsed.allValues);
    if (name == "f" && op != Operation::Query && op != Operation::Export) return flag(m_parsed.force);
    if (name == "y" && op == Operation::Export) return flag(m_parsed.force);
    if (name == "regedit4" && op == Operation::Export) return flag(m_parsed.regedit4);
    if (name == "unicode" && op == Operation::Export) return flag(m_parsed.unicode);
    if (name == "s" && (op == Operation::Query || op == Operation::Copy)) return flag(m_parsed.recurse);
    if (name == "t" && op == Operation::Add) return text(m_parsed.typeName, "a type");
    if (name == "d" && op == Operation::Add) return text(m_parsed.data, "the data");
    if (name == "s" && op == Operation::Add) return parseSeparator(i, error);
    return false;
}

bool ArgParser::parseSeparator(std::size_t& i, std::string& error) {
    if (m_parsed.separator) {
        error = "/s is given twice.";
        return false;
    }
    if (i + 1 >= m_args.size()) {
        error = "/s needs a separator.";
        return false;
    }
    const std::u16string units = reg::toUtf16(m_args[++i]);
    if (units.size() != 1) {
        error = "The separator of /s must be one character.";
        return false;
    }
    m_parsed.separator = units[0];
    return true;
}

void writeInvalid(std::ostream& err, const std::string& problem, const OperationInfo* info) {
    err << "quern-reg: " << problem << "\n";
    if (info)
        err << "Usage: " << info->synopsis << "Type \"quern-reg " << info->name << " /?\" for help.\n";
    else
        err << kGeneralUsage;
}

} // namespace

bool parseRegArgs(
    const std::vector<std::string>& args, RegArgs& parsed, std::ostream& out, std::ostream& err, int& exitCode) {
    exitCode = 1;
    if (args.empty()) {
        writeInvalid(err, "No operation was given.", nullptr);
        return false;
    }
    for (const auto& arg : args) {
        if (!isValidUtf8(arg)) {
            writeInvalid(err, "An argument is not valid UTF-8 text.", nullptr);
            return false;
        }
    }
    if (isHelpSwitch(args[0])) {
        out << kGeneralUsage << kRootList;
        exitCode = 0;
        return false;
    }
    const OperationInfo* info = nullptr;
    for (const auto& candidate : kOperations)
        if (lowered(args[0]) == candidate.name) info = &candidate;
    if (!info) {
        writeInvalid(err, "'" + args[0] + "' is not an operation.", nullptr);
        return false;
    }
    if (args.size() >= 2 && isHelpSwitch(args[1])) {
        if (args.size() > 2) {
            writeInvalid(err, "Help takes no further arguments.", info);
            return false;
        }
        out << "Usage: " << info->synopsis << info->details
            << (info->operation == Operation::Prefixes ? std::string_view() : kRootList);
        exitCode = 0;
        return false;
    }
    parsed = RegArgs {};
    parsed.operation = info->operation;
    std::string error;
    if (!ArgParser(args, *info, parsed).parse(error)) {
        writeInvalid(err, error.empty() ? "Invalid syntax." : error, info);
        if (info->operation == Operation::Compare || info->operation == Operation::Diff) exitCode = 2;
        return false;
    }
    exitCode = 0;
    return true;
}

} // namespace quern::cli
