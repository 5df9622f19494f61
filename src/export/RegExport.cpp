#include "export/RegExport.h"

#include "codec/Utf.h"
#include "codec/ValueText.h"
#include "registry/RegU.h"
#include "store/KeyWalk.h"

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

bool hasLineBreak(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; });
}

} // namespace

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

RegFileExport::RegFileExport(reg::RegStore& store)
    : m_registry(store) {
}

RegFileExport::~RegFileExport() = default; // a file never closed is thrown away

reg::Status RegFileExport::OpenRegFile(const std::string& fileName, RegFileForm form) {
    m_sink = nullptr;
    if (reg::Status opened = m_file.open(fileName); !opened.ok()) {
        m_error = opened.message();
        return opened;
    }
    return start(form);
}

reg::Status RegFileExport::OpenRegOutput(std::function<bool(std::string_view)> sink, RegFileForm form) {
    m_file.abandon();
    m_sink = std::move(sink);
    return start(form);
}

reg::Status RegFileExport::start(RegFileForm form) {
    m_form = form;
    m_error.clear();
    m_written = 0;
    m_keysWritten = 0;
    m_valuesWritten = 0;
    m_leftOut.clear();
    m_unreachable.clear();
    m_buffer.clear();
    m_buffer.reserve(kBufferSize + 4096);
    if (form == RegFileForm::Unicode) {
        m_buffer += "\xEF\xBB\xBF"; // U+FEFF, the byte-order mark, once it is UTF-16LE
        writeLine("Windows Registry Editor Version 5.00");
    } else {
        writeLine("REGEDIT4");
    }
    writeLine("");
    return failure();
}

reg::Status RegFileExport::failure() const {
    if (m_error.empty()) return {};
    return { reg::Status::WriteFailed, m_error };
}

void RegFileExport::writeLine(std::string_view line) {
    m_buffer.append(line);
    m_buffer.append("\r\n");
    if (m_buffer.size() >= kBufferSize) flush();
}

void RegFileExport::flush() {
    if (m_error.empty() && !m_buffer.empty()) {
        if (m_form == RegFileForm::Unicode) {
            const std::vector<std::uint8_t> bytes = reg::utf16LEBytes(reg::toUtf16(m_buffer));
            m_buffer.assign(bytes.begin(), bytes.end());
        }
        const reg::Status written = m_sink
            ? (m_sink(m_buffer) ? reg::Status::Ok : reg::Status(reg::Status::WriteFailed, "it could not be written"))
            : m_file.write(m_buffer);
        if (written.ok())
            m_written += m_buffer.size();
        else
            m_error = written.message();
    }
    m_buffer.clear();
}

void RegFileExport::leaveOut(const std::string& path) {
    if (std::find(m_leftOut.begin(), m_leftOut.end(), path) == m_leftOut.end()) m_leftOut.push_back(path);
}

void RegFileExport::noteUnreachable(reg::HKey key, const std::string& path) {
    for (const std::u16string& name : m_registry.store().subkeysLeftOut(key))
        if (const std::string full = path + "\\" + reg::toUtf8(name);
            std::find(m_unreachable.begin(), m_unreachable.end(), full) == m_unreachable.end())
            m_unreachable.push_back(full);
}

reg::Status RegFileExport::CloseRegFile() {
    if (m_sink) {
        flush();
        m_sink = nullptr;
        return failure();
    }
    if (!m_file.isOpen()) return { reg::Status::WriteFailed, m_error.empty() ? "no file was open" : m_error };
    flush();
    if (!m_error.empty()) {
        m_file.abandon();
        return failure();
    }
    if (reg::Status committed = m_file.commit(); !committed.ok()) {
        m_error = committed.message();
        return committed;
    }
    return {};
}

void RegFileExport::writeSection(
    reg::HKey key, const std::string& path, std::string_view valueEntry, const TTreeSel* selection) {
    writeLine("[" + path + "]");
    ++m_keysWritten;
    const std::string prefix = path + std::string(kValueSeparator);
    std::u16string name16;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> raw;
    for (std::uint32_t i = 0; m_registry.store().enumValue(key, i, name16, &type, &raw) == reg::Status::Ok; ++i) {
        const std::string name = reg::toUtf8(name16);
        if (!valueEntry.empty() && prefix + name != valueEntry) continue;
        if (selection && selection->StateOfPath(prefix + name) == selNone) continue;
        if (m_form == RegFileForm::Unicode)
            appendUnicodeRegFileValue(m_buffer, name, type, raw);
        else
            appendRegFileValue(m_buffer, name, type, raw);
        writeLine({});
        ++m_valuesWritten;
    }
    writeLine("");
    // Asked every few hundred keys: often enough to stop at once, rarely enough to cost nothing.
    constexpr std::uint64_t kProgressEvery = 256;
    if (progress && m_keysWritten % kProgressEvery == 0 && m_error.empty() && !progress(m_keysWritten, m_valuesWritten))
        m_error = kExportCancelled;
}

void RegFileExport::writeKey(
    reg::HKey key, const std::string& path, std::string_view valueEntry, const TTreeSel* selection, bool withSubkeys) {
    reg::KeyWalk walk(m_registry.store(), key, path);
    while (m_error.empty() && walk.next()) {
        if (walk.depth() == 0) {
            writeSection(key, path, valueEntry, selection); // the entry's own key, filtered as it asks
            if (!withSubkeys)
                walk.skipSubkeys();
            else
                noteUnreachable(key, path);
        } else if (std::any_of(
                       walk.name().begin(), walk.name().end(), [](char16_t c) { return c == u'\r' || c == u'\n'; })) {
            leaveOut(walk.path()); // with everything below it: the format cannot hold its name
            walk.skipSubkeys();
        } else if (walk.status() == reg::Status::LinkLoop) {
            continue; // a link back into the walk: written once, where the walk first met the key
        } else if (walk.status() != reg::Status::Ok) {
            writeLine(""); // a key that cannot be read contributes only its empty line
        } else {
            writeSection(walk.key(), walk.path(), {}, nullptr);
            noteUnreachable(walk.key(), walk.path());
        }
    }
}

void RegFileExport::ExportEntry(std::string_view entry, const TTreeSel* selection) {
    if ((!m_sink && !m_file.isOpen()) || !m_error.empty()) return;
    if (entry.empty()) entry = "\\";
    const bool valueEntry = IsValuePath(entry);
    const bool recursive = !valueEntry && entry.back() == '\\';
    const std::string key
        = valueEntry ? KeyOfPath(entry) : std::string(recursive ? entry.substr(0, entry.size() - 1) : entry);
    if (key.empty()) {
        // The everything entry: each root key with all below it, and no empty line of its own.
        if (entry != "\\") writeLine("");
        if (recursive)
            for (const auto& root : kRootKeys)
                ExportTree(std::string(root.name) + "\\");
        return;
    }
    // Reading is all an export needs: a registry that cannot be written backs up as well.
    if (!openKeyPath(m_registry, key, reg::Access::Read)) {
        writeLine("");
        return;
    }
    reg::HKey handle = reg::kNoKey;
    if (m_registry.store().openKey(m_registry.currentKey(), u"", reg::Access::Read, reg::kOptionNone, handle)
        != reg::Status::Ok) {
        writeLine("");
        return;
    }
    if (hasLineBreak(key)) {
        (void)m_registry.store().closeKey(handle);
        leaveOut(key);
        return;
    }
    writeKey(handle, key, valueEntry && !selection ? entry : std::string_view(), selection, recursive);
    (void)m_registry.store().closeKey(handle);
}

} // namespace quern
