#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quern {

// What Quern puts on the clipboard beside the .reg text, under its own type, so that a paste in
// any tab reads the copy from its registry itself (links as links, every byte) and knows a cut
// from a copy. Lines of UTF-8: "quern-clipboard 1", then "registry", "key" and "cut" lines, then
// one "value" line per value copied (none: the key with everything below it). Tabs, line breaks
// and backslashes in the fields are escaped (\t, \n, \r, \\), so that every name survives.
struct ClipboardPayload {
    std::string registry; // the registry's location, as its store names it
    std::string keyPath; // the key copied, or the key of the values copied, with the root's long name
    bool cut = false;
    bool valuesOnly = false;
    std::vector<std::string> valueNames; // UTF-8; the default value is the empty name
};

inline constexpr const char* kClipboardMimeType = "application/x-quern-registry-copy";

[[nodiscard]] std::string clipboardText(const ClipboardPayload& payload);
// nullopt for text that is not a payload of this version.
[[nodiscard]] std::optional<ClipboardPayload> readClipboardText(std::string_view text);

// Whether text copied from elsewhere is a registry file: its first line (after a byte-order mark
// and blank lines) is "Windows Registry Editor Version 5.00" or "REGEDIT4".
[[nodiscard]] bool looksLikeRegFile(std::string_view text);

} // namespace quern
