#pragma once

#include <string>
#include <vector>

namespace quern {

// What the window program was asked on its command line (Qt's own options already taken out).
struct ProgramArgs {
    bool help = false; // --help, -h: print programHelpText() and exit
    bool version = false; // --version: print the version and exit
    // What was named after the options: a Wine prefix's folder or a hive file to open, or else a
    // .reg file to show the import preview of (which, the program finds out by looking at it).
    std::string target;
    std::string error; // an option or argument not understood; the program says it and exits 2
};

// Reads the arguments after the program's name. --hive NAME=FILE is left to
// the hive loader, which says what is wrong with its value; "--" ends the options, so a file whose
// name begins with a dash can be named after it.
[[nodiscard]] ProgramArgs parseProgramArgs(const std::vector<std::string>& args);

// --help and --version where they come before any "--", whatever else is there: they are answered
// before the program needs a display, while Qt's own options (-style ...) are still among the
// arguments and cannot be judged.
[[nodiscard]] ProgramArgs textOnlyArgs(const std::vector<std::string>& args);

// The text of quern --help.
[[nodiscard]] std::string programHelpText();

} // namespace quern
