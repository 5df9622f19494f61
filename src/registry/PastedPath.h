#pragma once

#include "base/Status.h"

#include <string>
#include <string_view>
#include <vector>

namespace quern {

// A key path as people paste it from elsewhere, made into the path the tree names:
//   HKLM\Software\Wine, HKEY_LOCAL_MACHINE\Software\Wine, hkey_local_machine\...,
//   Computer\HKEY_LOCAL_MACHINE\... (as other editors' address bars show it),
//   [HKEY_LOCAL_MACHINE\Software\Wine] and [-HKEY_...] (a .reg file's key lines),
//   HKLM:\Software (a shell's drive form), Registry::HKEY_LOCAL_MACHINE\... (its provider form),
//   "HKLM\\Software\\Wine" (quoted, or escaped as in source code and JSON),
// with spaces, tabs and line breaks around it. The root's short or long name, in any case, becomes
// its long name in capitals; runs of backslashes become one (a key name is never empty) and a
// trailing one is dropped. The rest is kept as written: a key name may hold any other character.
// BadPath, saying what was expected, when the text names none of the six roots.
[[nodiscard]] reg::Status parsePastedKeyPath(std::string_view text, std::string& path);

// The components of a key path (the root's name first); a path's components are never empty.
[[nodiscard]] std::vector<std::string> pathComponents(std::string_view path);

// What is left of wanted once reached is gone (reached being the path the tree could go to, a
// prefix of wanted by components, compared without regard to ASCII case): "A\B" for
// wanted HKLM\X\A\B, reached HKLM\X; empty when all of it was reached.
[[nodiscard]] std::string missingPart(std::string_view wanted, std::string_view reached);

} // namespace quern
