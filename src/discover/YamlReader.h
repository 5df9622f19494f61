#pragma once

#include "base/Status.h"

#include "discover/ConfigTree.h"

#include <string>
#include <string_view>

namespace quern::discover {

// Reads a YAML document (Lutris's game files, Bottles' bottle.yml) through yaml-cpp: scalars
// become text (~ and empty ones null), sequences lists, mappings maps; a key that is not a scalar
// is left out. InvalidData, saying why (the line and column yaml-cpp gives), for a document yaml-cpp
// refuses, or one nested deeper than kMaxConfigDepth or of more than kMaxConfigNodes nodes once
// its aliases are followed.
[[nodiscard]] reg::Status parseYaml(std::string_view text, ConfigNode& root);

} // namespace quern::discover
