#pragma once

#include "base/Status.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quern {

inline constexpr const char* kPreferencesFileName = "preferences.ini";

// What the user turned on or kept beyond the ten lines of settings.ini (the Type column, the sort,
// favourites, the editor's choices): a file of its own beside it, so that settings.ini keeps its
// exact lines for every version that reads it. One "name=value" line each, in the order they were
// first set; a value's line breaks and percent signs are written as %0A, %0D and %25, so a value
// is always one line. Lines that are not "name=value" are kept as they are, so a later version's
// lines survive an earlier one.
class Preferences {
public:
    Preferences() = default; // in memory only, as tests and a window without a file use it
    explicit Preferences(std::string fileName);

    [[nodiscard]] const std::string& fileName() const { return m_fileName; }

    // Reads the file; a missing one is an empty set. A file that cannot be read leaves the
    // preferences empty and is never written over (save() then fails), so nothing the user kept is
    // lost because of a bad moment.
    [[nodiscard]] reg::Status load();
    // Writes the file whole (atomically) when anything changed since load or the last save.
    [[nodiscard]] reg::Status save();

    [[nodiscard]] std::optional<std::string> text(std::string_view name) const;
    [[nodiscard]] bool flag(std::string_view name, bool fallback = false) const;
    [[nodiscard]] int number(std::string_view name, int fallback) const;
    // The values of name.1, name.2, ... up to the first one missing.
    [[nodiscard]] std::vector<std::string> list(std::string_view name) const;

    void setText(std::string_view name, std::string_view value);
    void setFlag(std::string_view name, bool value) { setText(name, value ? "1" : "0"); }
    void setNumber(std::string_view name, int value) { setText(name, std::to_string(value)); }
    void setList(std::string_view name, const std::vector<std::string>& values);
    void remove(std::string_view name);

    // The file's text for these preferences, and the reverse (for tests and load/save).
    [[nodiscard]] std::string toText() const;
    void fromText(std::string_view text);

private:
    struct Line {
        std::string name; // empty: a line kept as it was read
        std::string value;
    };
    Line* find(std::string_view name);
    [[nodiscard]] const Line* find(std::string_view name) const;

    std::string m_fileName;
    std::vector<Line> m_lines;
    bool m_changed = false;
    bool m_unreadable = false;
};

} // namespace quern
