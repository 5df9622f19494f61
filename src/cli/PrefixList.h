#pragma once

#include "discover/RegistryDiscovery.h"

#include <iosfwd>
#include <string>
#include <string_view>

namespace quern::cli {

// A field of the list as it is printed: a backslash, tab, line break or other control character
// becomes a C escape (\\, \t, \n, \r, \x1b), so that every line has three fields whatever a
// launcher's file named its game.
[[nodiscard]] std::string listField(std::string_view text);

// Writes the registries found to out, one a line: name, kind and folder, separated by tabs, in the
// discovery's order (by kind, then name, then folder). The notes go to err, one a line.
void writePrefixList(const discover::Discovery& found, std::ostream& out, std::ostream& err);

// quern-reg prefixes: the registries below this process's home folder. 0.
int runPrefixes(std::ostream& out, std::ostream& err);

} // namespace quern::cli
