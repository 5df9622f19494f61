#include "editor/BinaryPage.h"

#include "codec/NumberText.h"
#include "codec/ValueData.h"
#include "codec/ValueText.h"

#include <algorithm>

namespace quern {

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

char lineCharacter(std::uint8_t byte) {
    return static_cast<char>(byte == 0 ? ' ' : byte);
}

} // namespace

std::optional<std::int32_t> cellNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t number = 0;
    for (char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        number = number * base + digit;
        if (number > 0x80000000LL) return std::nullopt;
    }
    if (negative) number = -number;
    if (number > 0x7FFFFFFF) return std::nullopt;
    return static_cast<std::int32_t>(number);
}

std::optional<std::uint32_t> hexCellNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    if (text.starts_with('$'))
        text.remove_prefix(1);
    else if (text.starts_with("0x") || text.starts_with("0X"))
        text.remove_prefix(2);
    const auto number = codec::parseUnsigned(text, 16, 32);
    if (!number) return std::nullopt;
    return static_cast<std::uint32_t>(*number);
}

std::string BinToStr(std::span<const std::uint8_t> bytes) {
    std::string line(bytes.size(), ' ');
    std::transform(bytes.begin(), bytes.end(), line.begin(), lineCharacter);
    return line;
}

std::optional<std::uint8_t> byteOfCharacter(char16_t c) {
    if (c < 0x80) return static_cast<std::uint8_t>(c);
    for (unsigned byte = 0x80; byte <= 0xFF; ++byte)
        if (byteGlyph(static_cast<std::uint8_t>(byte)) == c) return static_cast<std::uint8_t>(byte);
    if (c <= 0xFF) return static_cast<std::uint8_t>(c);
    return std::nullopt;
}

BinaryCellError::BinaryCellError(const std::string& text)
    : std::runtime_error("'" + text + "' is not a valid integer value") {
}

std::optional<std::uint8_t> BinaryPage::cellByte(std::string_view text) const {
    if (m_hex) {
        if (const auto number = hexCellNumber(text)) return static_cast<std::uint8_t>(*number & 0xFF);
    } else if (const auto number = cellNumber(text)) {
        return static_cast<std::uint8_t>(*number & 0xFF);
    }
    return std::nullopt;
}

void BinaryPage::setHexCells(bool hex) {
    if (hex == m_hex) return;
    m_hex = hex;
    rebuildGrid();
}

void BinaryPage::BinToGrid(std::span<const std::uint8_t> bytes) {
    m_bytes.assign(bytes.begin(), bytes.end());
    m_line = BinToStr(bytes);
    m_typed.clear();
    m_shown.assign((m_bytes.size() / kColumns + 1) * kColumns, kEmpty);
    std::fill_n(m_shown.begin(), m_bytes.size(), kNumber);
}

void BinaryPage::resizeRows(std::size_t rows) {
    m_shown.resize(rows * kColumns, kEmpty);
    m_typed.erase(m_typed.lower_bound(m_shown.size()), m_typed.end());
}

std::string BinaryPage::cellText(std::size_t index) const {
    if (index >= m_shown.size()) return {};
    switch (m_shown[index]) {
    case kNumber:
        if (m_hex) {
            std::string digits;
            codec::appendHexBytes(digits, std::span(&m_bytes[index], 1), {});
            return digits;
        }
        return std::to_string(m_bytes[index]);
    case kDoubleZero:
        return "00";
    case kTyped:
        return m_typed.at(index);
    case kEmpty:
        break;
    }
    return {};
}

bool BinaryPage::cellEmpty(std::size_t index) const {
    return index >= m_shown.size() || m_shown[index] == kEmpty
        || (m_shown[index] == kTyped && trimmed(m_typed.at(index)).empty());
}

void BinaryPage::setCellText(std::size_t index, std::string_view text) {
    if (index >= m_shown.size()) return;
    if (text.empty()) {
        m_shown[index] = kEmpty;
        m_typed.erase(index);
        return;
    }
    m_shown[index] = kTyped;
    m_typed[index] = std::string(text);
    if (trimmed(text).empty()) return;
    // Cells passed over on the way here hold zero bytes, shown as such, so nothing moves.
    for (std::size_t skipped = m_bytes.size(); skipped < index; ++skipped)
        if (m_shown[skipped] == kEmpty) m_shown[skipped] = kDoubleZero;
    if (m_bytes.size() <= index) {
        m_bytes.resize(index + 1, 0);
        m_line.resize(index + 1, ' ');
    }
    if (const auto byte = cellByte(text)) {
        m_bytes[index] = *byte;
        m_line[index] = lineCharacter(*byte);
    }
}

bool BinaryPage::canMoveTo(std::size_t index) const {
    if (index >= m_shown.size()) return false;
    if (index == 0) return true;
    const std::size_t before = index % kColumns != 0 ? index - 1 : index - kColumns;
    return !cellEmpty(before);
}

void BinaryPage::leaveCell(std::size_t index) {
    if (index >= m_shown.size() || m_shown[index] != kTyped) return;
    const std::string& text = m_typed.at(index);
    if (trimmed(text).empty() || cellByte(text)) return;
    m_typed.erase(index);
    m_shown[index] = index < m_bytes.size() ? (m_bytes[index] == 0 ? kDoubleZero : kNumber) : kEmpty;
}

std::size_t BinaryPage::enterInCell(std::size_t index) {
    if (index >= m_shown.size()) return index;
    if (cellEmpty(index)) setCellText(index, "00");
    const std::size_t next = index + 1;
    if (next == m_shown.size()) resizeRows(rowCount() + 1);
    return next;
}

void BinaryPage::editLine(std::size_t position, std::size_t count, std::string_view inserted) {
    position = std::min(position, m_bytes.size());
    count = std::min(count, m_bytes.size() - position);
    const auto at = m_bytes.begin() + static_cast<std::ptrdiff_t>(position);
    m_bytes.erase(at, at + static_cast<std::ptrdiff_t>(count));
    m_bytes.insert(m_bytes.begin() + static_cast<std::ptrdiff_t>(position), inserted.begin(), inserted.end());
    m_line = BinToStr(m_bytes);
    rebuildGrid();
}

void BinaryPage::rebuildGrid() {
    m_typed.clear();
    m_shown.assign((m_bytes.size() / kColumns + 1) * kColumns, kEmpty);
    for (std::size_t i = 0; i < m_bytes.size(); ++i)
        m_shown[i] = m_bytes[i] == 0 ? kDoubleZero : kNumber;
}

std::optional<std::size_t> BinaryPage::invalidCell() const {
    for (const auto& [index, text] : m_typed)
        if (!trimmed(text).empty() && !cellByte(text)) return index;
    return std::nullopt;
}

std::vector<std::uint8_t> BinaryPage::GridToBin() const {
    if (const auto bad = invalidCell()) throw BinaryCellError(m_typed.at(*bad));
    return m_bytes;
}

bool BinaryPage::CompareBin(std::span<const std::uint8_t> stored) const {
    if (invalidCell()) return true;
    return !std::equal(m_bytes.begin(), m_bytes.end(), stored.begin(), stored.end());
}

} // namespace quern
