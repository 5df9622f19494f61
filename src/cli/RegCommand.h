#pragma once

#include "cli/RegArgs.h"
#include "store/RegStore.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace quern::cli {

// Runs one parsed command on the registry and returns the exit code: 0 on success (and when the
// user answered no to a question), 1 on any failure, with the reason on err. query writes its
// listing to out as UTF-8 with LF line ends; the other operations write one line saying they
// completed. Questions go to err and their answers come from in: only y or yes (any letter case)
// is a yes; anything else, and the end of input, is a no. When in is std::cin and standard input
// is not a terminal, nobody can answer: a command that would ask fails instead, naming the switch
// (/f, or /y of export) that answers yes.
//
// export writes its file even when part of what it was asked for is not in it, as the window does,
// and then fails naming what is missing: each line of a saved selection whose key, value or root
// is not there, and each key left out for a line break in its name. An empty line of a selection,
// which stands for the whole registry, is named as a warning.
//
// Every operation that writes runs in one batch, so each changed file is written once. All that
// can be checked is checked before the first change: a registry that cannot be written (a
// wineserver runs for the prefix), a missing key or value, bad data, a copy into itself, a question
// answered no; any of them leaves the registry and its files as they were.
int runRegCommand(const RegArgs& args, reg::RegStore& store, std::istream& in, std::ostream& out, std::ostream& err);

// Parses args (without the program's name) and runs them: what the quern-reg program does once the
// registry is open.
int runRegCommand(
    const std::vector<std::string>& args, reg::RegStore& store, std::istream& in, std::ostream& out, std::ostream& err);

} // namespace quern::cli
