#include "window/Preferences.h"

#include "codec/AtomicFile.h"
#include "codec/FileRead.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>

namespace quern {

namespace {

// Preferences are small; a file far larger than any Quern writes is not one of ours.
constexpr long long kMaxPreferencesBytes = 4 * 1024 * 1024;

std::string encodeValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        if (c == '%')
            out += "%25";
        else if (c == '\n')
            out += "%0A";
        else if (c == '\r')
            out += "%0D";
        else
            out.push_back(c);
    }
    return out;
}

std::string decodeValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const std::string_view rest = value.substr(i, 3);
        if (rest == "%25" || rest == "%0A" || rest == "%0a" || rest == "%0D" || rest == "%0d") {
            out.push_back(rest == "%25" ? '%' : (rest[2] == 'A' || rest[2] == 'a') ? '\n' : '\r');
            i += 2;
        } else {
            out.push_back(value[i]);
        }
    }
    return out;
}

bool isName(std::string_view name) {
    return !name.empty() && name.find_first_of("=\r\n") == std::string_view::npos && name.front() != '#'
        && name.front() != '[';
}

} // namespace

Preferences::Preferences(std::string fileName)
    : m_fileName(std::move(fileName)) {
}

reg::Status Preferences::load() {
    m_lines.clear();
    m_changed = false;
    m_unreadable = false;
    if (m_fileName.empty()) return {};
    std::string bytes;
    struct stat st { };
    const reg::Status read = readRegularFile(m_fileName, kMaxPreferencesBytes, bytes, st);
    if (read == reg::Status::NotFound) return {};
    if (!read.ok()) {
        m_unreadable = true;
        return read;
    }
    fromText(bytes);
    m_changed = false;
    return {};
}

reg::Status Preferences::save() {
    if (!m_changed || m_fileName.empty()) return {};
    if (m_unreadable)
        return { reg::Status::WriteFailed,
            "The preferences in " + m_fileName + " could not be read, so they are not written over." };
    std::error_code error;
    const std::filesystem::path path(m_fileName);
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), error);
    reg::Status written = AtomicFile::writeWhole(m_fileName, toText());
    if (written.ok()) m_changed = false;
    return written;
}

const Preferences::Line* Preferences::find(std::string_view name) const {
    const auto found
        = std::find_if(m_lines.begin(), m_lines.end(), [&](const Line& line) { return line.name == name; });
    return found == m_lines.end() ? nullptr : &*found;
}

Preferences::Line* Preferences::find(std::string_view name) {
    return const_cast<Line*>(std::as_const(*this).find(name));
}

std::optional<std::string> Preferences::text(std::string_view name) const {
    const Line* line = find(name);
    if (!line) return std::nullopt;
    return line->value;
}

bool Preferences::flag(std::string_view name, bool fallback) const {
    const Line* line = find(name);
    if (!line) return fallback;
    if (line->value == "1") return true;
    if (line->value == "0") return false;
    return fallback;
}

int Preferences::number(std::string_view name, int fallback) const {
    const Line* line = find(name);
    if (!line) return fallback;
    int value = 0;
    const char* end = line->value.data() + line->value.size();
    const auto [stop, error] = std::from_chars(line->value.data(), end, value, 10);
    return error == std::errc() && stop == end && !line->value.empty() ? value : fallback;
}

std::vector<std::string> Preferences::list(std::string_view name) const {
    std::vector<std::string> values;
    for (std::size_t i = 1;; ++i) {
        const Line* line = find(std::string(name) + "." + std::to_string(i));
        if (!line) break;
        values.push_back(line->value);
    }
    return values;
}

void Preferences::setText(std::string_view name, std::string_view value) {
    if (!isName(name)) return; // our own names only; a bad one is a programming error caught by tests
    if (Line* line = find(name)) {
        if (line->value == value) return;
        line->value = std::string(value);
    } else {
        m_lines.push_back({ std::string(name), std::string(value) });
    }
    m_changed = true;
}

void Preferences::setList(std::string_view name, const std::vector<std::string>& values) {
    const std::size_t old = list(name).size();
    for (std::size_t i = 0; i < values.size(); ++i)
        setText(std::string(name) + "." + std::to_string(i + 1), values[i]);
    for (std::size_t i = values.size(); i < old; ++i)
        remove(std::string(name) + "." + std::to_string(i + 1));
}

void Preferences::remove(std::string_view name) {
    const auto removed
        = std::remove_if(m_lines.begin(), m_lines.end(), [&](const Line& line) { return line.name == name; });
    if (removed == m_lines.end()) return;
    m_lines.erase(removed, m_lines.end());
    m_changed = true;
}

std::string Preferences::toText() const {
    std::string out;
    for (const Line& line : m_lines) {
        if (line.name.empty())
            out += line.value;
        else
            out += line.name + "=" + encodeValue(line.value);
        out += '\n';
    }
    return out;
}

void Preferences::fromText(std::string_view text) {
    m_lines.clear();
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        const std::size_t equals = raw.find('=');
        const std::string_view name = raw.substr(0, equals);
        if (equals == std::string_view::npos || !isName(name) || find(name)) {
            m_lines.push_back({ std::string(), std::string(raw) }); // kept; the first of a name wins
            continue;
        }
        m_lines.push_back({ std::string(name), decodeValue(raw.substr(equals + 1)) });
    }
    m_changed = true;
}

} // namespace quern
