#pragma once

#include "base/Status.h"

#include "discover/ConfigTree.h"

#include <string>
#include <string_view>

namespace quern::discover {

// Reads Valve's text KeyValues, the format of Steam's libraryfolders.vdf and appmanifest_*.acf:
//
//     "AppState"
//     {
//         "appid"   "220"          // a comment runs to the end of the line
//         "name"    "Half-Life 2"
//     }
//
// A key is followed by its text or by a block of pairs in braces. Keys and texts are quoted, with
// the escapes \\ \" \n \t \r \v \b \f \a \? \', or bare words (no space, quote or brace); a quoted
// text may run over several lines. root becomes a map of the file's top-level pairs, in order;
// keys repeat as they are written.
//
// Strict, so that a file that is not what it should be is said to be so rather than half read:
// an unknown escape, a quote or a { never closed, a } without its {, a key without a value, a
// NUL byte, Valve's conditions ([$WIN32]) and directives (#include, #base), nesting deeper than
// kMaxConfigDepth or more than kMaxConfigNodes keys: InvalidData, saying what and on which
// line ("line 3: ...").
[[nodiscard]] reg::Status parseKeyValues(std::string_view text, ConfigNode& root);

} // namespace quern::discover
