#include "export/RegExport.h"

#include "registry/RegU.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quern {

namespace {

constexpr std::size_t kBufferSize = 1 << 16;

bool isRecursiveEntry(std::string_view entry) {
    return !IsValuePath(entry) && !entry.empty() && entry.back() == '\\';
}

std::string hexBytes(const std::vector<std::uint8_t>& bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size * 3);
    for (std::size_t i = 0; i < size; ++i) {
        if (i) text.push_back(',');
        if (bytes[i] >= 16) text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 15]);
    }
    return text;
}

} // namespace

std::string EscapeRegText(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\\' || c == '"') escaped.push_back('\\');
        escaped.push_back(c);
    }
    return escaped;
}

std::vector<std::string> collectExportEntries(const std::vector<std::string>& entries) {
    std::vector<std::string> collected;
    for (const auto& entry : entries) {
        if (IsValuePath(entry)) {
            const std::string key = KeyOfPath(entry);
            const bool named = std::any_of(collected.begin(), collected.end(), [&](const std::string& taken) {
                if (IsValuePath(taken)) return KeyOfPath(taken) == key;
                return taken == key
                    || (isRecursiveEntry(taken) && std::string_view(taken).substr(0, taken.size() - 1) == key);
            });
            if (named) continue;
        }
        collected.push_back(entry);
    }
    return collected;
}

RegFileExport::RegFileExport(reg::RegAccessor& registry)
    : m_registry(registry) {
}

RegFileExport::~RegFileExport() {
    if (m_fd >= 0) abandon();
}

bool RegFileExport::OpenRegFile(const std::string& fileName) {
    m_target = fileName;
    const auto slash = fileName.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : fileName.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    m_tempPath = dir + "/." + name + ".quern-XXXXXX";
    m_fd = ::mkstemp(m_tempPath.data());
    if (m_fd < 0) {
        m_error = std::strerror(errno);
        return false;
    }
    struct stat st { };
    mode_t mode = 0644;
    if (::stat(fileName.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    (void)::fchmod(m_fd, mode);
    m_error.clear();
    m_written = 0;
    m_buffer.reserve(kBufferSize + 4096);
    writeLine("REGEDIT4");
    writeLine("");
    return m_error.empty();
}

void RegFileExport::writeLine(std::string_view line) {
    m_buffer.append(line);
    m_buffer.append("\r\n");
    if (m_buffer.size() >= kBufferSize) flush();
}

void RegFileExport::flush() {
    std::string_view rest = m_buffer;
    while (m_error.empty() && !rest.empty()) {
        const ssize_t n = ::write(m_fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            m_error = std::strerror(errno);
            break;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
        m_written += static_cast<std::uint64_t>(n);
    }
    m_buffer.clear();
}

void RegFileExport::abandon() {
    ::close(m_fd);
    m_fd = -1;
    ::unlink(m_tempPath.c_str());
}

bool RegFileExport::CloseRegFile() {
    if (m_fd < 0) return false;
    flush();
    if (m_error.empty() && ::fsync(m_fd) != 0) m_error = std::strerror(errno);
    if (!m_error.empty()) {
        abandon();
        return false;
    }
    if (::close(m_fd) != 0) m_error = std::strerror(errno);
    m_fd = -1;
    if (m_error.empty() && ::rename(m_tempPath.c_str(), m_target.c_str()) != 0) m_error = std::strerror(errno);
    if (!m_error.empty()) {
        ::unlink(m_tempPath.c_str());
        return false;
    }
    return true;
}

void RegFileExport::writeValue(const std::string& name) {
    reg::ValueKind kind = reg::ValueKind::Other;
    std::size_t size = 0;
    (void)m_registry.getDataInfo(name, kind, size);
    std::string line = "\"" + EscapeRegText(name) + "\"=";
    switch (kind) {
    case reg::ValueKind::String:
    case reg::ValueKind::ExpandString: {
        std::string text;
        try {
            text = m_registry.readString(name);
        } catch (const reg::RegError&) { }
        if (text.find_first_of("\r\n") != std::string::npos) {
            // A line break would split the line for every reader: such a string goes in the hex
            // form of its own kind, its text and the closing NUL as bytes.
            std::vector<std::uint8_t> bytes(text.begin(), text.end());
            bytes.push_back(0);
            line += kind == reg::ValueKind::String ? "hex(1):" : "hex(2):";
            line += hexBytes(bytes, bytes.size());
        } else {
            line += "\"" + EscapeRegText(text) + "\"";
        }
        break;
    }
    case reg::ValueKind::Integer: {
        std::uint32_t number = 0;
        try {
            number = static_cast<std::uint32_t>(m_registry.readInteger(name));
        } catch (const reg::RegError&) { }
        char digits[16];
        std::snprintf(digits, sizeof digits, "%X", number);
        line += "dword:";
        line += digits;
        break;
    }
    default: {
        std::vector<std::uint8_t> bytes(size);
        std::size_t read = 0;
        try {
            read = m_registry.readBinaryData(name, bytes.data(), bytes.size());
        } catch (const reg::RegError&) { }
        line += "hex:";
        line += hexBytes(bytes, std::min(read, bytes.size()));
    }
    }
    writeLine(line);
}

void RegFileExport::ExportEntry(std::string_view entry, const TTreeSel* selection) {
    if (m_fd < 0) return;
    if (entry.empty()) entry = "\\";
    const bool valueEntry = IsValuePath(entry);
    const bool recursive = !valueEntry && entry.back() == '\\';
    const std::string key
        = valueEntry ? KeyOfPath(entry) : std::string(recursive ? entry.substr(0, entry.size() - 1) : entry);
    const bool valueMode = valueEntry && !selection;

    bool pushed = false;
    if (!key.empty()) {
        // Reading is all an export needs: a registry that cannot be written backs up as well.
        if (!openKeyPath(m_registry, key, reg::Access::Read)) {
            writeLine("");
            return;
        }
        reg::KeyInfo info;
        if (m_registry.store().queryInfo(m_registry.currentKey(), info) == reg::Status::Ok) {
            if (std::find(m_walk.begin(), m_walk.end(), info.identity) != m_walk.end())
                return; // a link back into the walk
            m_walk.push_back(info.identity);
            pushed = true;
        }
        writeLine("[" + key + "]");
        std::vector<std::string> names;
        m_registry.getValueNames(names);
        const std::string prefix = key + std::string(kValueSeparator);
        for (const auto& name : names) {
            if (valueMode && prefix + name != entry) continue;
            if (selection && selection->StateOfPath(prefix + name) == selNone) continue;
            writeValue(name);
        }
    }
    if (entry != "\\") writeLine("");
    if (recursive) {
        if (entry == "\\") {
            for (const auto& root : kRootKeys)
                ExportTree(std::string(root.name) + "\\");
        } else {
            std::vector<std::string> subkeys;
            if (openKeyPath(m_registry, key, reg::Access::Read)) m_registry.getKeyNames(subkeys);
            for (const auto& name : subkeys)
                ExportTree(std::string(entry) + name + "\\");
        }
    }
    if (pushed) m_walk.pop_back();
}

} // namespace quern
