#pragma once

#include "store/KeyWalk.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quern {

// The hits of a Find all, kept small enough for a million: each key path once, however many of
// its values matched (the walk meets a key's hits one after another), the value names one after
// another in one text, and per hit only where its key and name are.
class SearchHits {
public:
    // The columns of the list, and the walk's own order (no column).
    enum Column : int { Walk = -1, Key = 0, Value = 1, Data = 2 };

    void clear();
    // A match as the search gives it: a key path, or a key path, the value separator and a name.
    void add(std::string_view position);

    [[nodiscard]] std::size_t size() const { return m_hits.size(); }
    [[nodiscard]] const std::string& keyPath(std::size_t hit) const { return m_keys[m_hits[hit].key]; }
    [[nodiscard]] bool isValue(std::size_t hit) const { return m_hits[hit].value; }
    [[nodiscard]] std::string_view valueName(std::size_t hit) const {
        return std::string_view(m_names).substr(m_hits[hit].nameAt, m_hits[hit].nameSize);
    }
    // The match as the search gives it, to go to it.
    [[nodiscard]] std::string position(std::size_t hit) const;
    // The hit as a user reads its path: the key path, and for a value a backslash and its name.
    void userPath(std::size_t hit, std::string& out) const;

    // The hits whose user path the expression accepts (JollyCheck, letter case ignored), in the
    // walk's order; every hit for the empty expression.
    [[nodiscard]] std::vector<std::uint32_t> filtered(std::string_view expression) const;
    // Sorts rows (hits) by a column: keys by their path, a key before its values; values by name;
    // data by its text (dataText gives a value hit's), then by path and name. Equal rows keep the
    // walk's order, either way round; Walk sorts them back into it.
    void sortRows(std::vector<std::uint32_t>& rows, Column column, bool descending,
        const std::function<std::string(std::size_t)>& dataText) const;

private:
    struct Hit {
        std::uint32_t key = 0; // in m_keys
        std::uint32_t nameAt = 0; // in m_names
        std::uint32_t nameSize = 0;
        bool value = false;
    };
    [[nodiscard]] std::vector<std::uint32_t> keyRanks() const;

    std::vector<std::string> m_keys;
    std::string m_names;
    std::vector<Hit> m_hits;
};

// Reads what a hit names from the registry now: whether it is still there, and a value's data as
// the grid shows it. The key of the last hit read stays open, as the hits of one key follow one
// another.
class SearchHitReader {
public:
    SearchHitReader(reg::RegStore& store, int binaryMode, int dwordMode);

    [[nodiscard]] bool exists(const SearchHits& hits, std::size_t hit);
    // The value's data as the grid shows it; empty for a key, or a value that is gone.
    [[nodiscard]] std::string dataText(const SearchHits& hits, std::size_t hit);
    // Forgets the open key: the registry may have changed.
    void forget();

private:
    bool openKey(const std::string& keyPath);

    reg::RegStore& m_store;
    int m_binaryMode;
    int m_dwordMode;
    std::string m_keyPath;
    reg::KeyHandle m_key;
    bool m_opened = false;
    std::uint32_t m_type = 0;
    std::vector<std::uint8_t> m_data;
};

// A field of a saved line: tabs and line breaks drawn as their control pictures and lone
// surrogates escaped, as the list shows them, so that each hit is one line of tab-separated columns.
[[nodiscard]] std::string hitFieldText(std::string_view text);

// The text of a saved list, one line per row: the key path, and for a value its name
// ("(Default)" for the default value) and data, tab-separated; "(deleted)" in the data column for
// a hit whose key or value is gone.
struct SavedHit {
    std::string_view keyPath;
    bool value = false;
    std::string_view valueName;
    std::string_view data;
    bool gone = false;
};
void appendHitLine(std::string& out, const SavedHit& hit);

} // namespace quern
