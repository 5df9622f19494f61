#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quern::discover {

// A launcher's settings file as the discovery reads it, whatever its format (Valve's KeyValues,
// YAML, JSON): text, a list, or a map of named children in the file's order. The readers turn the
// libraries' own trees into this, so that nothing past them sees a library's types.
struct ConfigNode {
    enum class Kind { Null, Text, List, Map };
    Kind kind = Kind::Null;
    std::string key; // a map's child: its name
    std::string text; // Kind::Text: as written (numbers and booleans too)
    std::vector<ConfigNode> children;

    [[nodiscard]] bool isMap() const { return kind == Kind::Map; }
    [[nodiscard]] bool isText() const { return kind == Kind::Text; }
    // The first child of a map named key (ASCII letters compared without case when ignoreCase, as
    // Valve's files are read); null when there is none or this is no map.
    [[nodiscard]] const ConfigNode* child(std::string_view name, bool ignoreCase = false) const;
    // The text of child name; empty when it is missing or not text.
    [[nodiscard]] std::string textOf(std::string_view name, bool ignoreCase = false) const;
};

// What a reader takes at most: deeper nesting, or more nodes (YAML's aliases can repeat a node
// without end), is a file that is not what it should be.
inline constexpr int kMaxConfigDepth = 64;
inline constexpr std::size_t kMaxConfigNodes = 200000;

[[nodiscard]] bool equalIgnoringAsciiCase(std::string_view a, std::string_view b);

} // namespace quern::discover
