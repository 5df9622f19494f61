#include "window/ProgramArgs.h"

namespace quern {

ProgramArgs parseProgramArgs(const std::vector<std::string>& args) {
    ProgramArgs parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size() && parsed.error.empty(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
            if (arg == "--") {
                optionsEnded = true;
            } else if (arg == "--help" || arg == "-h") {
                parsed.help = true;
            } else if (arg == "--version") {
                parsed.version = true;
            } else if (arg == "--hive") {
                ++i; // its value, checked by the hive loader
            } else {
                parsed.error = "unknown option '" + arg + "'";
            }
        } else if (parsed.target.empty()) {
            parsed.target = arg;
        } else {
            parsed.error = "one registry or file at a time: '" + parsed.target + "' and '" + arg + "'";
        }
    }
    return parsed;
}

ProgramArgs textOnlyArgs(const std::vector<std::string>& args) {
    ProgramArgs asked;
    for (const std::string& arg : args) {
        if (arg == "--") break;
        asked.help = asked.help || arg == "--help" || arg == "-h";
        asked.version = asked.version || arg == "--version";
    }
    return asked;
}

std::string programHelpText() {
    return "Usage: quern [OPTION]... [PREFIX_FOLDER | HIVE_FILE | FILE.reg]\n"
           "Browse, edit, search and back up the Windows registry of a Wine prefix.\n"
           "\n"
           "Quern opens the prefix WINEPREFIX names; without it ~/.wine when that holds a\n"
           "registry, else a registry of its own in ~/.local/share/quern/registry.\n"
           "\n"
           "  PREFIX_FOLDER     open the registry of that Wine prefix instead\n"
           "  HIVE_FILE         open a Windows hive file (SYSTEM, NTUSER.DAT, ...) alone\n"
           "  FILE.reg          show what importing FILE.reg would change; nothing is\n"
           "                    written until you choose Import\n"
           "  --hive NAME=FILE  load a Windows hive file as HKEY_LOCAL_MACHINE\\NAME\n"
           "                    (HKU\\NAME: under HKEY_USERS); may be given more than once\n"
           "  -h, --help        print this help and exit\n"
           "      --version     print the version and exit\n"
           "\n"
           "The registries of the last session come back in their tabs; File > Open registry\n"
           "(Ctrl+O) lists every Wine prefix Steam, Lutris, Bottles and the others keep.\n"
           "\n"
           "The same from a terminal or a script: quern-reg (see man quern-reg).\n";
}

} // namespace quern
