#include "cli/RegCommand.h"

#include "cli/PrefixList.h"

#include "codec/RegData.h"
#include "codec/Utf.h"
#include "codec/ValueText.h"
#include "discover/RegistryPlace.h"
#include "export/RegExport.h"
#include "import/KeyCopy.h"
#include "import/RegDiff.h"
#include "import/RegImport.h"
#include "registry/RegU.h"
#include "search/SearchEngine.h"
#include "selection/SelectionFile.h"
#include "selection/TreeSelection.h"
#include "store/KeyWalk.h"
#include "store/MemoryRegistry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>

namespace quern::cli {

namespace {

using reg::Access;
using reg::HKey;
using reg::Status;

// Deeper trees than the registry allows cannot be made; a copy is refused before it starts rather
// than stopped halfway. The margin covers roots that are themselves keys a few levels down.
constexpr std::size_t kMaxCopyDepth = 500;

struct Context {
    reg::RegStore& store;
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool canAsk; // someone is there to answer a question

    int fail(const std::string& text) const {
        err << "quern-reg: " << text << "\n";
        return 1;
    }
    int canceled() const {
        out << "quern-reg: The operation was canceled; nothing was changed.\n";
        return 0;
    }
};

// An open key that closes itself.
// A key the command opens, closed when it goes: the store's KeyHandle, with the open and create
// calls the commands make.
class OpenKey {
public:
    explicit OpenKey(reg::RegStore& store)
        : m_store(store)
        , m_key(store) { }

    Status open(HKey parent, std::u16string_view path, Access access, unsigned options = reg::kOptionNone) {
        return m_store.openKey(parent, path, access, options, m_key.out());
    }
    Status create(HKey parent, std::u16string_view path, unsigned options, bool* created) {
        return m_store.createKey(parent, path, Access::Full, options, m_key.out(), created);
    }
    void close() { m_key.reset(); }
    [[nodiscard]] HKey handle() const { return m_key.get(); }

private:
    reg::RegStore& m_store;
    reg::KeyHandle m_key;
};

// Unasked: nobody is there to answer, and the question was not put.
enum class Answer { No, Yes, All, Unasked };

Answer ask(const Context& c, const std::string& question, bool offerAll) {
    if (!c.canAsk) return Answer::Unasked;
    c.err << question << (offerAll ? " (Yes|No|All) " : " (Yes|No) ") << std::flush;
    std::string line;
    if (!std::getline(c.in, line)) {
        c.err << "\n";
        return Answer::No;
    }
    std::string word;
    for (char ch : line)
        if (ch != ' ' && ch != '\t' && ch != '\r')
            word.push_back(ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch);
    if (word == "y" || word == "yes") return Answer::Yes;
    if (offerAll && (word == "a" || word == "all")) return Answer::All;
    return Answer::No;
}

// Why a command stopped at a question nobody could answer. Taking the end of a script's input as
// a no would end the command as if all was well, with the old file or value still in place.
std::string unanswered(const std::string& question, std::string_view yesSwitch) {
    return question + " It cannot be asked: standard input is not a terminal. Add " + std::string(yesSwitch)
        + " to answer yes.";
}

// The end of a command whose question was not answered yes.
int notConfirmed(const Context& c, Answer answer, const std::string& question, std::string_view yesSwitch) {
    return answer == Answer::Unasked ? c.fail(unanswered(question, yesSwitch) + " Nothing was changed.") : c.canceled();
}

std::string displayName(std::string_view valueName) {
    return valueName.empty() ? "(Default)" : std::string(valueName);
}

// Says no before anything is asked or changed when the registry cannot be written where key is
// or would be made: at the key, or else at the nearest key above it that exists.
bool checkWritable(const Context& c, const KeyArg& key, unsigned options = reg::kOptionNone) {
    std::u16string path = reg::toUtf16(key.path);
    for (;;) {
        OpenKey probe(c.store);
        const Status status = probe.open(key.root, path, Access::Full, options);
        if (status == Status::Ok) return true;
        if (status != Status::NotFound || path.empty()) {
            c.fail(key.fullName() + " cannot be changed: " + status.message());
            return false;
        }
        const auto slash = path.rfind(u'\\');
        path.resize(slash == std::u16string::npos ? 0 : slash);
        options = reg::kOptionNone;
    }
}

// Counts the changes of one command, keeps the first failure, and ends the command's batch.
class Changes {
public:
    explicit Changes(const Context& c)
        : m_context(c)
        , m_batch(c.store) { }

    [[nodiscard]] bool failed() const { return m_status != Status::Ok; }

    // Notes the result of one change; false when it failed.
    bool note(Status status, const std::string& what, bool changed = true) {
        if (status == Status::Ok) {
            if (changed) ++m_count;
            return true;
        }
        if (m_status == Status::Ok) {
            m_status = status;
            m_failure = what + ": " + status.message();
        }
        return false;
    }

    // Writes the batch and reports: the exit code of the command.
    int finish() {
        const Status written = m_batch.finish();
        if (failed()) {
            const bool saved = written == Status::Ok && m_count > 0;
            return m_context.fail(
                m_failure + (saved ? " The changes made before it were saved." : " Nothing was changed."));
        }
        if (written != Status::Ok) return m_context.fail("The registry could not be saved: " + written.message());
        m_context.out << "The operation completed successfully.\n";
        return 0;
    }

private:
    const Context& m_context;
    reg::WriteBatch m_batch;
    Status m_status = Status::Ok;
    std::string m_failure;
    std::size_t m_count = 0;
};

// --- query ---------------------------------------------------------------------------------

// Collects the listing and hands it to the stream in large pieces: a whole registry is a few MB.
// A lone surrogate in a name or string is shown as its escape, as the window shows it, so that
// the listing stays UTF-8.
class Listing {
public:
    explicit Listing(std::ostream& out)
        : m_out(out) { }
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;
    ~Listing() { flush(); }

    Listing& operator<<(std::string_view text) {
        // A lone surrogate's three bytes begin with 0xED; most text holds none and is taken as it is.
        if (text.find('\xED') == std::string_view::npos)
            m_buffer += text;
        else
            m_buffer += reg::escapeLoneSurrogates(text);
        if (m_buffer.size() >= 1 << 16) flush();
        return *this;
    }
    void flush() {
        m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
        m_buffer.clear();
    }

private:
    std::ostream& m_out;
    std::string m_buffer;
};

class QueryWalk {
public:
    QueryWalk(reg::RegStore& store, Listing& listing)
        : m_store(store)
        , m_listing(listing) { }

    // Lists a key's values and then its subkeys: their names, or with recurse each of them in
    // turn. A key heads its lines only when it has values, or inside a recursive listing.
    void listKey(HKey key, const std::string& path, bool recurse) {
        reg::KeyWalk walk(m_store, key, path);
        while (walk.next()) {
            reg::KeyInfo info;
            if (walk.status() != Status::Ok || m_store.queryInfo(walk.key(), info) != Status::Ok) continue;
            const bool headed = info.valueCount > 0 || walk.depth() > 0;
            if (headed) m_listing << walk.path() << "\n";
            std::u16string name;
            std::uint32_t type = 0;
            std::vector<std::uint8_t> data;
            for (std::uint32_t i = 0; m_store.enumValue(walk.key(), i, name, &type, &data) == Status::Ok; ++i)
                writeValue(reg::toUtf8(name), type, data);
            if (headed) m_listing << "\n";
            if (!recurse) {
                for (std::uint32_t i = 0; m_store.enumKey(walk.key(), i, name) == Status::Ok; ++i)
                    m_listing << walk.path() << "\\" << reg::toUtf8(name) << "\n";
                walk.skipSubkeys();
            }
        }
    }

    // Lists the one value of that name where it exists: in key, and with recurse below it.
    // Returns how many were found.
    std::size_t findValue(HKey key, const std::u16string& name, const std::string& path, bool recurse) {
        std::size_t found = 0;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        reg::KeyWalk walk(m_store, key, path);
        while (walk.next()) {
            if (walk.status() != Status::Ok) continue;
            if (m_store.queryValue(walk.key(), name, type, data) == Status::Ok) {
                m_listing << walk.path() << "\n";
                writeValue(reg::toUtf8(storedName(walk.key(), name)), type, data);
                m_listing << "\n";
                ++found;
            }
            if (!recurse) walk.skipSubkeys();
        }
        return found;
    }

    void writeValue(std::string_view name, std::uint32_t type, const std::vector<std::uint8_t>& data) {
        m_listing << "    " << displayName(name) << "    " << codec::typeName(type) << "    " << queryText(type, data)
                  << "\n";
    }

private:
    // The name as the key keeps it, which may differ in letter case from the one asked for.
    std::u16string storedName(HKey key, const std::u16string& name) {
        std::u16string stored;
        for (std::uint32_t i = 0; m_store.enumValue(key, i, stored, nullptr, nullptr) == Status::Ok; ++i)
            if (reg::sameName(stored, name)) return stored;
        return name;
    }

    reg::RegStore& m_store;
    Listing& m_listing;
};

int runQuery(const Context& c, const RegArgs& a) {
    OpenKey key(c.store);
    const Status status = key.open(a.key.root, reg::toUtf16(a.key.path), Access::Read);
    if (status == Status::NotFound) return c.fail("The key " + a.key.fullName() + " does not exist.");
    if (status != Status::Ok) return c.fail(a.key.fullName() + " cannot be read: " + status.message());

    std::string path = a.key.fullName();
    if (a.valueName || a.defaultValue) {
        const std::u16string name = reg::toUtf16(a.valueName.value_or(""));
        if (!a.recurse) {
            std::uint32_t type = 0;
            std::vector<std::uint8_t> data;
            if (c.store.queryValue(key.handle(), name, type, data) != Status::Ok && a.valueName)
                return c.fail("The value '" + *a.valueName + "' does not exist in " + path + ".");
        }
        Listing listing(c.out);
        listing << "\n";
        QueryWalk walk(c.store, listing);
        const std::size_t found = walk.findValue(key.handle(), name, path, a.recurse);
        if (a.recurse) {
            listing << "Search complete. Number of matches found: " << std::to_string(found) << "\n";
        } else if (found == 0) {
            // The default value every key has, even while nothing is stored in it.
            listing << path << "\n    (Default)    REG_SZ    (value not set)\n\n";
        }
        return 0;
    }
    Listing listing(c.out);
    listing << "\n";
    QueryWalk(c.store, listing).listKey(key.handle(), path, a.recurse);
    return 0;
}

// --- add -----------------------------------------------------------------------------------

int runAdd(const Context& c, const RegArgs& a) {
    const bool setsValue = a.valueName || a.defaultValue || a.data || a.typeName;
    std::uint32_t type = reg::kRegSz;
    if (a.typeName) {
        const auto named = codec::typeFromName(*a.typeName);
        if (!named) return c.fail("Unsupported type [" + *a.typeName + "].");
        type = *named;
    }
    std::vector<std::uint8_t> data;
    if (setsValue) {
        if ((type == reg::kRegDword || type == reg::kRegQword) && !a.data)
            return c.fail("A " + codec::typeName(type) + " value needs its number: /d DATA.");
        if (const Status encoded = codec::encodeData(type, a.data.value_or(""), a.separator, data); !encoded.ok())
            return c.fail(encoded.message());
    }
    if (!checkWritable(c, a.key)) return 1;

    const std::u16string path = reg::toUtf16(a.key.path);
    const std::string valueName = a.valueName.value_or("");
    const std::u16string name = reg::toUtf16(valueName);
    if (setsValue && !a.force) {
        OpenKey existing(c.store);
        std::uint32_t oldType = 0;
        std::vector<std::uint8_t> oldData;
        if (existing.open(a.key.root, path, Access::Read) == Status::Ok
            && c.store.queryValue(existing.handle(), name, oldType, oldData) == Status::Ok) {
            const std::string question
                = "The registry value '" + displayName(valueName) + "' already exists. Do you want to overwrite it?";
            if (const Answer answer = ask(c, question, false); answer != Answer::Yes)
                return notConfirmed(c, answer, question, "/f");
        }
    }

    Changes changes(c);
    OpenKey key(c.store);
    bool created = false;
    if (changes.note(
            key.create(a.key.root, path, reg::kOptionNone, &created), "Cannot create " + a.key.fullName(), created)
        && setsValue)
        changes.note(c.store.setValue(key.handle(), name, type, data),
            "Cannot set the value '" + displayName(valueName) + "' of " + a.key.fullName());
    key.close();
    return changes.finish();
}

// --- delete --------------------------------------------------------------------------------

int runDeleteKey(const Context& c, const RegArgs& a) {
    const std::string name = a.key.fullName();
    if (a.key.path.empty()) return c.fail(name + " is a root key and cannot be deleted.");
    if (a.key.root == reg::kUsers && a.key.path.find('\\') == std::string::npos)
        return c.fail(name + " holds a user's registry file and cannot be deleted.");
    const std::u16string path = reg::toUtf16(a.key.path);
    {
        OpenKey probe(c.store);
        if (probe.open(a.key.root, path, Access::Read, reg::kOpenLink) != Status::Ok)
            return c.fail("The key " + name + " does not exist.");
    }
    if (!checkWritable(c, a.key, reg::kOpenLink)) return 1;
    if (!a.force) {
        const std::string question = "Are you sure you want to delete the registry key '" + name + "'?";
        if (const Answer answer = ask(c, question, false); answer != Answer::Yes)
            return notConfirmed(c, answer, question, "/f");
    }
    Changes changes(c);
    changes.note(reg::deleteKeyTree(c.store, a.key.root, path), "Cannot delete " + name);
    return changes.finish();
}

int runDeleteValues(const Context& c, const RegArgs& a) {
    const std::string keyName = a.key.fullName();
    OpenKey key(c.store);
    if (key.open(a.key.root, reg::toUtf16(a.key.path), Access::Read) != Status::Ok)
        return c.fail("The key " + keyName + " does not exist.");
    std::vector<std::u16string> names;
    std::string question;
    if (a.allValues) {
        std::u16string name;
        for (std::uint32_t i = 0; c.store.enumValue(key.handle(), i, name, nullptr, nullptr) == Status::Ok; ++i)
            names.push_back(name);
        question = "Are you sure you want to delete all registry values in '" + keyName + "'?";
    } else {
        const std::string valueName = a.valueName.value_or("");
        names.push_back(reg::toUtf16(valueName));
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (c.store.queryValue(key.handle(), names.back(), type, data) != Status::Ok)
            return c.fail("The value '" + displayName(valueName) + "' does not exist in " + keyName + ".");
        question = "Are you sure you want to delete the registry value '" + displayName(valueName) + "'?";
    }
    if (!checkWritable(c, a.key)) return 1;
    if (!a.force)
        if (const Answer answer = ask(c, question, false); answer != Answer::Yes)
            return notConfirmed(c, answer, question, "/f");

    Changes changes(c);
    if (key.open(a.key.root, reg::toUtf16(a.key.path), Access::Full) == Status::Ok) {
        for (const auto& name : names)
            if (!changes.note(c.store.deleteValue(key.handle(), name),
                    "Cannot delete the value '" + displayName(reg::toUtf8(name)) + "' of " + keyName))
                break;
    } else {
        changes.note(Status::AccessDenied, keyName + " cannot be changed");
    }
    key.close();
    return changes.finish();
}

// --- copy ----------------------------------------------------------------------------------

class CopyPlan {
public:
    CopyPlan(const Context& c, bool force)
        : m_context(c)
        , m_force(force) { }

    // Drops from node what the target already holds as it is, and what the user chose to keep;
    // false with error set when a key is a link on one side and not on the other, or when a
    // question could not be asked. target is kNoKey where the target has no such key yet.
    bool compare(HKey target, CopyNode& node, const std::string& targetPath, std::string& error) {
        if (target != reg::kNoKey) {
            auto keep = std::remove_if(node.values.begin(), node.values.end(),
                [&](const reg::RawValue& value) { return !shouldWrite(target, value, targetPath); });
            node.values.erase(keep, node.values.end());
            if (!m_unasked.empty()) {
                error = m_unasked;
                return false;
            }
        }
        for (auto& child : node.children) {
            const std::string childPath = targetPath + "\\" + reg::toUtf8(child.name);
            OpenKey sub(m_context.store);
            reg::KeyInfo info;
            if (target != reg::kNoKey && sub.open(target, child.name, Access::Read, reg::kOpenLink) == Status::Ok
                && m_context.store.queryInfo(sub.handle(), info) == Status::Ok && info.isLink != child.isLink) {
                error = childPath
                    + (info.isLink ? " is a link key and the key copied onto it is not."
                                   : " is not a link key and the key copied onto it is one.");
                return false;
            }
            if (!compare(sub.handle(), child, childPath, error)) return false;
        }
        return true;
    }

private:
    bool shouldWrite(HKey target, const reg::RawValue& value, const std::string& targetPath) {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (m_context.store.queryValue(target, value.name, type, data) != Status::Ok) return true;
        // Writing what is already there would only move the key's write time.
        if (type == value.type && data == value.data) return false;
        if (m_force) return true;
        if (!m_unasked.empty()) return false;
        const std::string question = "The value '" + targetPath + "\\" + displayName(reg::toUtf8(value.name))
            + "' already exists in the destination key. Do you want to overwrite it?";
        const Answer answer = ask(m_context, question, true);
        if (answer == Answer::Unasked) m_unasked = unanswered(question, "/f");
        if (answer == Answer::All) m_force = true;
        return answer == Answer::Yes || answer == Answer::All;
    }

    const Context& m_context;
    bool m_force;
    std::string m_unasked; // why the copy stops: a question nobody could answer
};

void writeCopy(
    reg::RegStore& store, HKey target, const CopyNode& node, const std::string& targetPath, Changes& changes) {
    for (const auto& value : node.values)
        if (!changes.note(store.setValue(target, value.name, value.type, value.data),
                "Cannot set the value '" + displayName(reg::toUtf8(value.name)) + "' of " + targetPath))
            return;
    for (const auto& child : node.children) {
        const std::string childPath = targetPath + "\\" + reg::toUtf8(child.name);
        OpenKey sub(store);
        bool created = false;
        const unsigned options = child.isLink ? reg::kCreateLink | reg::kOpenLink : reg::kOpenLink;
        if (!changes.note(sub.create(target, child.name, options, &created), "Cannot create " + childPath, created))
            return;
        writeCopy(store, sub.handle(), child, childPath, changes);
        if (changes.failed()) return;
    }
}

// The registry of /from, /left or /right: a Wine prefix's folder or a hive file, opened for the
// command alone.
Status openOtherRegistry(const std::string& registry, std::unique_ptr<reg::RegStore>& owned) {
    discover::RegistryPlace place;
    if (Status found = discover::placeOfPath(registry, place); !found.ok()) return found;
    std::string problem;
    owned = discover::openPlace(place, problem);
    return owned ? Status::Ok : Status(Status::NotFound, problem);
}

int runCopy(const Context& c, const RegArgs& a) {
    const std::string sourceName = a.key.fullName();
    const std::string targetName = a.target.fullName();
    std::unique_ptr<reg::RegStore> other; // /from: the source is in another registry
    if (!a.sourceRegistry.empty())
        if (const Status opened = openOtherRegistry(a.sourceRegistry, other); !opened.ok())
            return c.fail(opened.message());
    reg::RegStore& from = other ? *other : c.store;
    OpenKey source(from);
    if (source.open(a.key.root, reg::toUtf16(a.key.path), Access::Read) != Status::Ok)
        return c.fail("The key " + sourceName + " does not exist" + (other ? " in " + a.sourceRegistry : "") + ".");
    reg::KeyInfo sourceInfo;
    if (const Status status = from.queryInfo(source.handle(), sourceInfo); status != Status::Ok)
        return c.fail(sourceName + " cannot be read: " + status.message());

    // The same key can have two names (HKCR is HKLM\Software\Classes), so keys are compared, not names.
    std::u16string above = reg::toUtf16(a.target.path);
    for (bool whole = true; !other; whole = false) {
        OpenKey probe(c.store);
        reg::KeyInfo info;
        if (probe.open(a.target.root, above, Access::Read) == Status::Ok
            && c.store.queryInfo(probe.handle(), info) == Status::Ok && info.identity == sourceInfo.identity) {
            if (whole) return c.fail("The source and destination keys are the same key.");
            if (a.recurse)
                return c.fail(targetName + " lies inside " + sourceName + ": a key cannot be copied into itself.");
        }
        if (above.empty()) break;
        const auto slash = above.rfind(u'\\');
        above.resize(slash == std::u16string::npos ? 0 : slash);
    }

    CopyNode tree;
    const std::size_t depth = readCopySource(from, source.handle(), tree, a.recurse);
    source.close();
    const std::size_t targetDepth
        = a.target.path.empty() ? 0 : std::count(a.target.path.begin(), a.target.path.end(), '\\') + 1;
    if (targetDepth + depth > kMaxCopyDepth)
        return c.fail("The copy would make keys more than " + std::to_string(kMaxCopyDepth) + " levels deep.");
    if (!checkWritable(c, a.target)) return 1;

    {
        OpenKey target(c.store);
        (void)target.open(a.target.root, reg::toUtf16(a.target.path), Access::Read);
        std::string error;
        if (!CopyPlan(c, a.force).compare(target.handle(), tree, targetName, error))
            return c.fail(error + " Nothing was changed.");
    }

    Changes changes(c);
    OpenKey target(c.store);
    bool created = false;
    if (changes.note(target.create(a.target.root, reg::toUtf16(a.target.path), reg::kOptionNone, &created),
            "Cannot create " + targetName, created))
        writeCopy(c.store, target.handle(), tree, targetName, changes);
    target.close();
    return changes.finish();
}

// --- export --------------------------------------------------------------------------------

// Names on err each line of a saved selection that gives less than it names: a key or value that
// is not there, a root that is none of the six, or an empty line, which stands for the whole
// registry. True when every line named something that is there. Run after the export, on the
// registry it read.
bool reportSelection(const Context& c, reg::RegAccessor& registry, const std::vector<std::string>& entries) {
    bool allThere = true;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string& entry = entries[i];
        const std::string where = "line " + std::to_string(i + 1);
        if (entry.empty()) {
            c.err << "quern-reg: warning: " << where
                  << " is empty, and an empty line stands for the whole registry: all of it was exported.\n";
            continue;
        }
        std::string key;
        std::string valueName;
        SplitValuePath(entry, key, valueName);
        const bool valueEntry = IsValuePath(entry);
        if (!valueEntry && key.back() == '\\') key.pop_back();
        if (key.empty() && !valueEntry) continue; // "\\": the whole registry, as asked
        const std::string root = key.substr(0, key.find('\\'));
        std::string problem;
        if (std::none_of(kRootKeys.begin(), kRootKeys.end(), [&](const RootKey& r) { return r.name == root; }))
            problem = "'" + root + "' is not a root key (a selection names roots in full, as HKEY_LOCAL_MACHINE)";
        else if (!openKeyPath(registry, key, Access::Read))
            problem = "the key does not exist";
        else if (valueEntry && !registry.valueExists(valueName))
            problem = "the value does not exist";
        if (problem.empty()) continue;
        c.err << "quern-reg: " << where << ", " << entry << ": " << problem << "; nothing was exported for it.\n";
        allThere = false;
    }
    return allThere;
}

// Opens the export: the file, or with "-" standard output.
Status openExport(const Context& c, RegFileExport& file, const std::string& path, RegFileForm form) {
    if (path != "-") return file.OpenRegFile(path, form);
    return file.OpenRegOutput(
        [&out = c.out](std::string_view text) {
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            return out.good();
        },
        form);
}

// Names on standard error the keys an export left out, and why; false when there were any.
bool reportLeftOut(const Context& c, const std::vector<std::string>& paths, std::string_view why) {
    if (paths.empty()) return true;
    c.err << "quern-reg: these keys " << why << ", and were left out with all below them:\n";
    for (const auto& path : paths)
        c.err << "    " << shownKeyPath(path) << "\n";
    return false;
}

int runExport(const Context& c, const RegArgs& a) {
    reg::RegAccessor registry(c.store);
    TTreeSel selection(c.store);
    if (!a.selectionFile.empty()) {
        std::vector<std::string> entries;
        if (const Status read = readSelectionFile(a.selectionFile, entries); !read.ok())
            return c.fail("Cannot open file " + a.selectionFile + ": " + read.message());
        selection.setEntries(std::move(entries));
    } else {
        registry.selectRoot(a.key.root);
        if (!registry.keyExists("\\" + a.key.path))
            return c.fail("The system was unable to find the specified registry key: " + a.key.fullName());
    }
    // "-" is standard output, for a pipe: nothing to overwrite and nothing to put in place.
    const bool toOutput = a.file == "-";
    struct stat st { };
    if (!toOutput && !a.force && ::stat(a.file.c_str(), &st) == 0) {
        const std::string question = "The file '" + a.file + "' already exists. Do you want to overwrite it?";
        if (const Answer answer = ask(c, question, false); answer != Answer::Yes)
            return notConfirmed(c, answer, question, "/y");
    }

    // The same writer and the same entries as the window's export: a saved selection exports
    // exactly as it would there, a key as the window exports a key with all below it.
    // A key is a backup, which the lossless form keeps whole; a selection writes what the window
    // writes, whose default is REGEDIT4.
    const bool unicode = a.unicode || (!a.regedit4 && a.selectionFile.empty());
    RegFileExport file(c.store);
    if (const Status opened = openExport(c, file, a.file, unicode ? RegFileForm::Unicode : RegFileForm::Regedit4);
        !opened.ok()) {
        const bool special = opened.message().find("not a regular file") != std::string::npos;
        return c.fail("Cannot create file " + a.file + ": " + opened.message()
            + (special ? ". To write the export to standard output, give - as the file." : ""));
    }
    if (!a.selectionFile.empty()) {
        for (const auto& entry : collectExportEntries(selection.Entries()))
            file.ExportEntry(entry, &selection);
    } else {
        file.ExportTree(a.key.fullName() + "\\");
    }
    if (const Status closed = file.CloseRegFile(); !closed.ok())
        return c.fail(toOutput ? "Cannot write the export to standard output."
                               : "Cannot write file " + a.file + ": " + closed.message());
    if (toOutput) c.out.flush();

    // The file stays, as the window leaves it; a backup that lacks what it was asked for fails.
    bool complete = a.selectionFile.empty() || reportSelection(c, registry, selection.Entries());
    complete
        = reportLeftOut(c, file.leftOutKeys(), "hold a line break in their names, which a registry file cannot hold")
        && complete;
    complete = reportLeftOut(c, file.unreachableKeys(),
                   "are in the hive file under names no path can reach (the hive is read-only for it)")
        && complete;
    if (!complete)
        return c.fail((toOutput ? std::string("The export") : a.file) + " was written without what is named above.");
    return 0;
}

} // namespace

// --- find ----------------------------------------------------------------------------------

int runFind(const Context& c, const RegArgs& a) {
    SearchState state;
    state.expression = a.expression;
    const bool any = a.findKeys || a.findValueNames || a.findData;
    state.SearchKeys = !any || a.findKeys;
    state.SearchValueNames = !any || a.findValueNames;
    state.SearchData = !any || a.findData;
    if (!a.from.empty()) {
        reg::RegAccessor registry(c.store);
        const std::string key = IsValuePath(a.from) ? KeyOfPath(a.from) : a.from;
        if (!openKeyPath(registry, key, Access::Read))
            return c.fail("The key " + shownKeyPath(key) + " does not exist.");
    }
    RegistrySearch search(c.store, state);
    Listing listing(c.out);
    const std::size_t found = search.FindAll(a.from, [&](const std::string& position) {
        listing << shownKeyPath(position) << "\n";
        return true;
    });
    if (found == 0) return c.fail("Nothing matches " + a.expression + ".");
    return 0;
}

// --- import and compare ----------------------------------------------------------------------

int runImport(const Context& c, const RegArgs& a) {
    RegFileContent content;
    if (const Status read = readRegFile(a.file, content); !read.ok())
        return c.fail(read.message() + "; nothing was imported.");
    if (const Status status = applyImport(c.store, content); !status.ok())
        return c.fail(status.message() + " Nothing was imported.");
    c.out << "The operation completed successfully.\n";
    return 0;
}

// compare's exit codes: 0 nothing differs, 1 something does, and errors apart from both.
constexpr int kCompareError = 2;

int runCompare(const Context& c, const RegArgs& a) {
    RegFileContent content;
    ImportPlan plan;
    Status done = readRegFile(a.file, content);
    if (done.ok() && a.newerFile.empty()) {
        done = planImport(c.store, content, plan);
    } else if (done.ok()) {
        RegFileContent newer;
        done = readRegFile(a.newerFile, newer);
        if (done.ok()) done = compareFiles(content, newer, plan);
    }
    if (!done.ok()) {
        c.err << "quern-reg: " << done.message() << "\n";
        return kCompareError;
    }
    if (a.key.root != reg::kNoKey) plan = planBelow(plan, a.key.fullName());
    Listing listing(c.out);
    for (const RegChange& change : plan.changes)
        listing << changeLine(change) << "\n";
    listing << planSummary(plan) << "\n";
    return plan.empty() ? 0 : 1;
}

// One side of diff: the registry its key is in (a file read into one of its own, or another
// prefix or hive opened for it) and the key, kNoKey where it is missing.
struct DiffSide {
    std::unique_ptr<reg::RegStore> owned;
    reg::RegStore* store = nullptr;
    reg::HKey key = reg::kNoKey;
    std::string path; // the key's full name
    DiffSide() = default;
    DiffSide(const DiffSide&) = delete;
    DiffSide& operator=(const DiffSide&) = delete;
    ~DiffSide() {
        if (store && key != reg::kNoKey) (void)store->closeKey(key);
    }
};

Status readFileSide(const std::string& file, DiffSide& side) {
    side.owned = std::make_unique<reg::MemoryRegistry>();
    side.store = side.owned.get();
    return readRegFileInto(file, *side.owned);
}

Status openDiffSide(const Context& c, const KeyArg& key, const std::string& file, const std::string& registry,
    const KeyArg& otherKey, std::string_view switchName, DiffSide& side) {
    if (!file.empty()) {
        if (!registry.empty())
            return { Status::BadPath,
                std::string(switchName) + " names the registry of a key, and " + file + " is a file." };
        if (Status read = readFileSide(file, side); !read.ok()) return read;
    } else if (!registry.empty()) {
        if (Status opened = openOtherRegistry(registry, side.owned); !opened.ok()) return opened;
        side.store = side.owned.get();
    } else {
        side.store = &c.store;
    }
    const KeyArg& named = file.empty() ? key : otherKey; // a file is read at the other side's key
    side.path = named.fullName();
    const Status opened
        = side.store->openKey(named.root, reg::toUtf16(named.path), reg::Access::Read, reg::kOptionNone, side.key);
    side.key = opened.ok() ? side.key : reg::kNoKey;
    // A side that is not there is an error, not an empty key: a slip in a path would otherwise
    // list, and write, the other side's whole key as added or deleted.
    if (opened.code() == reg::StatusCode::NotFound)
        return { Status::NotFound,
            (file.empty() ? side.path : file + " holds no " + side.path + ", so it") + " is not there to compare." };
    if (!opened.ok()) return { opened.code(), side.path + ": " + opened.message() };
    return Status::Ok;
}

int runDiff(const Context& c, const RegArgs& a) {
    ImportPlan plan;
    Status done = Status::Ok;
    if (!a.file.empty() && !a.newerFile.empty()) {
        // Two files: compared whole.
        RegFileContent left;
        RegFileContent right;
        done = readRegFile(a.file, left);
        if (done.ok()) done = readRegFile(a.newerFile, right);
        if (done.ok() && (!a.leftRegistry.empty() || !a.rightRegistry.empty()))
            done = { Status::BadPath, "/left and /right name the registry of a key; both sides are files." };
        if (done.ok()) done = a.reverse ? compareFiles(right, left, plan) : compareFiles(left, right, plan);
    } else {
        DiffSide left;
        DiffSide right;
        done = openDiffSide(c, a.key, a.file, a.leftRegistry, a.target, "/left", left);
        if (done.ok()) done = openDiffSide(c, a.target, a.newerFile, a.rightRegistry, a.key, "/right", right);
        if (done.ok())
            plan = a.reverse ? compareKeys(*right.store, right.key, *left.store, left.key, right.path)
                             : compareKeys(*left.store, left.key, *right.store, right.key, left.path);
    }
    std::string text;
    if (done.ok() && !a.outFile.empty()) {
        done = changesAsRegText(plan, text);
        if (done.ok()) done = writeChangesFile(a.outFile, text);
    }
    if (!done.ok()) {
        c.err << "quern-reg: " << done.message() << "\n";
        return kCompareError;
    }
    Listing listing(c.out);
    for (const RegChange& change : plan.changes)
        listing << changeLine(change) << "\n";
    listing << planSummary(plan) << "\n";
    return plan.empty() ? 0 : 1;
}

int runRegCommand(const RegArgs& args, reg::RegStore& store, std::istream& in, std::ostream& out, std::ostream& err) {
    // Answers come from a terminal, or from the stream a caller hands in for them; standard input
    // that is not a terminal (a script, a pipe, a scheduled job) has nobody at it.
    const Context c { store, in, out, err, &in != &std::cin || ::isatty(STDIN_FILENO) == 1 };
    for (const auto& message : store.loadMessages())
        err << "quern-reg: warning: " << message << "\n";
    switch (args.operation) {
    case Operation::Query:
        return runQuery(c, args);
    case Operation::Add:
        return runAdd(c, args);
    case Operation::Delete:
        return args.valueName || args.defaultValue || args.allValues ? runDeleteValues(c, args) : runDeleteKey(c, args);
    case Operation::Copy:
        return runCopy(c, args);
    case Operation::Export:
        return runExport(c, args);
    case Operation::Find:
        return runFind(c, args);
    case Operation::Import:
        return runImport(c, args);
    case Operation::Compare:
        return runCompare(c, args);
    case Operation::Diff:
        return runDiff(c, args);
    case Operation::Prefixes:
        return runPrefixes(out, err);
    }
    return 1;
}

int runRegCommand(const std::vector<std::string>& args, reg::RegStore& store, std::istream& in, std::ostream& out,
    std::ostream& err) {
    RegArgs parsed;
    int exitCode = 1;
    if (!parseRegArgs(args, parsed, out, err, exitCode)) return exitCode;
    return runRegCommand(parsed, store, in, out, err);
}

} // namespace quern::cli
