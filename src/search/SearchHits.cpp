#include "search/SearchHits.h"

#include "codec/Utf.h"
#include "codec/ValueText.h"
#include "registry/RegU.h"
#include "search/JollyCheckU.h"
#include "selection/TreeSelection.h"

#include <algorithm>
#include <numeric>

namespace quern {

namespace {

// Paths by their names, letter case ignored, a backslash before any character: a key's subkeys
// then follow it before any key whose name merely starts the same way.
bool pathLess(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto rank = [](char c) {
            const auto u = static_cast<unsigned char>(c);
            if (c == '\\') return 0u;
            return (u >= 'A' && u <= 'Z' ? u + 32u : u) + 1u;
        };
        const unsigned x = rank(a[i]);
        const unsigned y = rank(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

} // namespace

void SearchHits::clear() {
    m_keys.clear();
    m_names.clear();
    m_hits.clear();
}

void SearchHits::add(std::string_view position) {
    const std::size_t pair = position.find(kValueSeparator);
    const std::string_view key = position.substr(0, pair);
    // The walk meets a key's own hit and its values' one after another: one path serves them all.
    if (m_keys.empty() || m_keys.back() != key) m_keys.emplace_back(key);
    Hit hit;
    hit.key = static_cast<std::uint32_t>(m_keys.size() - 1);
    if (pair != std::string_view::npos) {
        const std::string_view name = position.substr(pair + kValueSeparator.size());
        hit.value = true;
        hit.nameAt = static_cast<std::uint32_t>(m_names.size());
        hit.nameSize = static_cast<std::uint32_t>(name.size());
        m_names.append(name);
    }
    m_hits.push_back(hit);
}

std::string SearchHits::position(std::size_t hit) const {
    std::string text = keyPath(hit);
    if (isValue(hit)) text.append(kValueSeparator).append(valueName(hit));
    return text;
}

void SearchHits::userPath(std::size_t hit, std::string& out) const {
    out = keyPath(hit);
    if (isValue(hit)) out.append(1, '\\').append(valueName(hit));
}

std::vector<std::uint32_t> SearchHits::filtered(std::string_view expression) const {
    std::vector<std::uint32_t> rows;
    if (expression.empty()) {
        rows.resize(m_hits.size());
        std::iota(rows.begin(), rows.end(), 0u);
        return rows;
    }
    std::string path;
    for (std::size_t hit = 0; hit < m_hits.size(); ++hit) {
        userPath(hit, path);
        if (JollyCheck(path, expression, false)) rows.push_back(static_cast<std::uint32_t>(hit));
    }
    return rows;
}

std::vector<std::uint32_t> SearchHits::keyRanks() const {
    std::vector<std::uint32_t> order(m_keys.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(
        order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return pathLess(m_keys[a], m_keys[b]); });
    std::vector<std::uint32_t> rank(m_keys.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        // A key met twice (a link, or a walk come back to it) ranks with its first meeting.
        const bool same = i > 0 && !pathLess(m_keys[order[i - 1]], m_keys[order[i]]);
        rank[order[i]] = same ? rank[order[i - 1]] : static_cast<std::uint32_t>(i);
    }
    return rank;
}

void SearchHits::sortRows(std::vector<std::uint32_t>& rows, Column column, bool descending,
    const std::function<std::string(std::size_t)>& dataText) const {
    if (column == Walk) {
        std::sort(rows.begin(), rows.end());
        return;
    }
    const std::vector<std::uint32_t> rank = keyRanks();
    // Each row's data is read once, not at every comparison.
    std::vector<std::string> data;
    if (column == Data) {
        data.resize(m_hits.size());
        for (const std::uint32_t row : rows)
            if (isValue(row)) data[row] = dataText(row);
    }
    auto byPath = [&](std::uint32_t a, std::uint32_t b) {
        if (rank[m_hits[a].key] != rank[m_hits[b].key]) return rank[m_hits[a].key] < rank[m_hits[b].key];
        if (isValue(a) != isValue(b)) return !isValue(a);
        return nameLess(valueName(a), valueName(b));
    };
    auto less = [&](std::uint32_t a, std::uint32_t b) {
        if (column == Value) {
            if (isValue(a) != isValue(b)) return !isValue(a);
            if (valueName(a) != valueName(b)) return nameLess(valueName(a), valueName(b));
        }
        if (column == Data && data[a] != data[b]) return nameLess(data[a], data[b]);
        return byPath(a, b);
    };
    std::stable_sort(rows.begin(), rows.end(),
        [&](std::uint32_t a, std::uint32_t b) { return descending ? less(b, a) : less(a, b); });
}

SearchHitReader::SearchHitReader(reg::RegStore& store, int binaryMode, int dwordMode)
    : m_store(store)
    , m_binaryMode(binaryMode)
    , m_dwordMode(dwordMode)
    , m_key(store) {
}

void SearchHitReader::forget() {
    m_key.reset();
    m_keyPath.clear();
    m_opened = false;
}

bool SearchHitReader::openKey(const std::string& keyPath) {
    if (m_opened && keyPath == m_keyPath) return m_key.get() != reg::kNoKey;
    m_key.reset();
    m_keyPath = keyPath;
    m_opened = true;
    std::string rest = keyPath;
    const std::string rootName = takeFirstComponent(rest);
    for (const RootKey& root : kRootKeys) {
        if (root.name != rootName) continue;
        if (m_store.openKey(root.handle, reg::toUtf16(rest), reg::Access::Read, reg::kOptionNone, m_key.out())
            != reg::Status::Ok)
            m_key.reset();
        break;
    }
    return m_key.get() != reg::kNoKey;
}

bool SearchHitReader::exists(const SearchHits& hits, std::size_t hit) {
    if (!openKey(hits.keyPath(hit))) return false;
    if (!hits.isValue(hit)) return true;
    return m_store.queryValue(m_key.get(), reg::toUtf16(hits.valueName(hit)), m_type, m_data) == reg::Status::Ok;
}

std::string SearchHitReader::dataText(const SearchHits& hits, std::size_t hit) {
    if (!hits.isValue(hit) || !openKey(hits.keyPath(hit))) return {};
    ValueRow row;
    if (m_store.queryValue(m_key.get(), reg::toUtf16(hits.valueName(hit)), row.type, row.data) != reg::Status::Ok)
        return {};
    renderRow(row, m_binaryMode, m_dwordMode);
    return std::move(row.text);
}

std::string hitFieldText(std::string_view text) {
    std::string out = shownKeyPath(text); // line breaks and lone surrogates as the list shows them
    for (std::size_t tab = out.find('\t'); tab != std::string::npos; tab = out.find('\t', tab))
        out.replace(tab, 1, "\xe2\x90\x89"); // U+2409
    return out;
}

void appendHitLine(std::string& out, const SavedHit& hit) {
    out += hitFieldText(hit.keyPath);
    if (hit.value || hit.gone) {
        out += '\t';
        if (hit.value) out += hit.valueName.empty() ? std::string("(Default)") : hitFieldText(hit.valueName);
        out += '\t';
        out += hit.gone ? std::string("(deleted)") : hitFieldText(hit.data);
    }
    out += '\n';
}

} // namespace quern
