#pragma once

#include "base/Status.h"

#include "discover/ConfigTree.h"

#include <string>
#include <string_view>

namespace quern::discover {

// Reads a JSON document (Heroic's game settings) through nlohmann's JSON: strings, numbers and
// booleans become text (numbers as JSON writes them), null null, arrays lists, objects maps.
// InvalidData, saying why (the line and column of the fault), for text that is not JSON, or nested
// deeper than kMaxConfigDepth, or of more than kMaxConfigNodes values.
[[nodiscard]] reg::Status parseJson(std::string_view text, ConfigNode& root);

} // namespace quern::discover
