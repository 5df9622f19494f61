#include "import/RegDiff.h"

#include "base/Names.h"
#include "codec/AtomicFile.h"
#include "codec/Utf.h"
#include "codec/ValueText.h"
#include "registry/RegU.h"

namespace quern {

reg::Status changesAsRegText(const ImportPlan& plan, std::string& text) {
    text = "Windows Registry Editor Version 5.00\r\n";
    const std::string* section = nullptr; // the key whose [KEY] line the values now follow
    for (const RegChange& change : plan.changes) {
        if (change.keyPath.find_first_of("\r\n") != std::string::npos)
            return { reg::Status::BadPath,
                "The key \"" + shownKeyPath(change.keyPath)
                    + "\" has a line break in its name, which a registry file cannot write." };
        // A link's SymbolicLinkValue says where it leads; an import opens a link's path as the key
        // it leads to, so a file cannot make a link or move one: its line would change that key.
        const bool linkValue = change.valueName == u"SymbolicLinkValue"
            && (change.oldType == reg::kRegLink || change.newType == reg::kRegLink);
        if (linkValue && change.kind != RegChange::Kind::ValueDeleted)
            return { reg::Status::InvalidData,
                "The link key \"" + shownKeyPath(change.keyPath)
                    + "\" is new or leads elsewhere on one side. Its change cannot be written as registry file lines, "
                      "which would change the key it leads to; copy the link instead." };
        if (change.kind == RegChange::Kind::KeyDeleted) {
            text += "\r\n[-" + change.keyPath + "]\r\n";
            section = nullptr;
            continue;
        }
        if (!section || *section != change.keyPath) {
            text += "\r\n[" + change.keyPath + "]\r\n";
            section = &change.keyPath;
        }
        if (change.kind == RegChange::Kind::KeyAdded) continue;
        const std::string name = reg::toUtf8(change.valueName);
        if (change.kind == RegChange::Kind::ValueDeleted) {
            appendRegFileValueName(text, name);
            text += "-";
        } else {
            appendUnicodeRegFileValue(text, name, change.newType, change.newData);
        }
        text += "\r\n";
    }
    text += "\r\n";
    return reg::Status::Ok;
}

reg::Status writeChangesFile(const std::string& path, const std::string& text) {
    const std::vector<std::uint8_t> bytes = reg::utf16LEBytes(reg::toUtf16("\xEF\xBB\xBF" + text));
    const reg::Status written
        = AtomicFile::writeWhole(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (written.ok()) return written;
    return { written.code(), path + ": " + written.message() };
}

} // namespace quern
