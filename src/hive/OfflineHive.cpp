#include "hive/OfflineHive.h"

#include "codec/AtomicFile.h"
#include "codec/FileMapping.h"
#include "codec/FileRead.h"
#include "codec/Fingerprint.h"
#include "codec/Utf.h"
#include "hive/HiveFormat.h"
#include "hive/HiveImage.h"
#include "hive/HiveReader.h"
#include "store/KeyArena.h"

#include <hivex.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>
#include <vector>

namespace quern::reg {

namespace {

using namespace hiveformat;

// From version 1.4 on, Windows reads a value longer than this only from a big-data record (a
// list of segments), which hivex never writes: it writes one long cell Windows misreads. hivex
// writes such a value empty, and the record is put into the file it wrote.
constexpr std::size_t kMaxSingleCellData = kBigDataSegment;
constexpr std::uint32_t kFirstBigDataVersion = 4;
// hivex reads no longer value back (and a big-data record holds at most 65,535 segments).
constexpr std::size_t kMaxReadableValue = std::min<std::size_t>(8000000, kMaxBigData);

std::string baseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// A name hivex can write in its place when it holds a lone surrogate (which has no UTF-8 form for
// hivex to take): each such unit becomes a private-use character of its own, so the stand-in has
// as many UTF-16 units, is never written in one byte a character, and differs where the names
// differ. The file then gets the real units. False, out untouched, for a name that needs none.
bool standIn(std::u16string_view name, std::u16string& out) {
    bool lone = false;
    std::u16string made(name);
    for (std::size_t i = 0; i < made.size(); ++i) {
        const char16_t c = made[i];
        if (c >= 0xd800 && c <= 0xdbff && i + 1 < made.size() && made[i + 1] >= 0xdc00 && made[i + 1] <= 0xdfff) {
            ++i;
        } else if (c >= 0xd800 && c <= 0xdfff) {
            made[i] = static_cast<char16_t>(0xe000 + (c - 0xd800));
            lone = true;
        }
    }
    if (lone) out = std::move(made);
    return lone;
}

// The words of a file refused as a hive, which follow the file's name.
std::string notAHiveFile(mode_t) {
    return "is not a regular file";
}

std::string largerThanAnyHive(long long, long long size) {
    return "is larger than any registry hive (" + std::to_string(size) + " bytes)";
}

// A file read as a hive must be a regular one of a hive's size: a device or a pipe named by
// mistake is never read, and nothing larger than a hive is taken into memory.
constexpr FileLimit kHiveFileLimit { kMaxHiveFileSize, notAHiveFile, largerThanAnyHive, true };

} // namespace

OfflineHive::OfflineHive(std::string path, HiveOpenOptions options)
    : m_path(std::move(path))
    , m_name(baseNameOf(m_path))
    , m_options(std::move(options)) {
    upperCaseOrder = true;
}

OfflineHive::~OfflineHive() {
    abandonChanges();
    if (m_handle) hivex_close(m_handle);
}

Status OfflineHive::open(
    const std::string& path, HiveOpenOptions options, std::unique_ptr<OfflineHive>& hive, std::unique_ptr<Key>& tree) {
    std::unique_ptr<OfflineHive> made(new OfflineHive(path, std::move(options)));
    std::unique_ptr<Key> loaded;
    if (const Status st = made->load(loaded); !st.ok()) return st;
    hive = std::move(made);
    tree = std::move(loaded);
    return Status::Ok;
}

Status OfflineHive::openHandle(bool writable) {
    if (m_handle) hivex_close(m_handle);
    m_handle = hivex_open(m_path.c_str(), writable ? HIVEX_OPEN_WRITE : 0);
    m_writable = writable && m_handle;
    if (!m_handle)
        return Status(Status::BadPath,
            m_path + " cannot be read as a registry hive (" + std::strerror(errno) + "). Quern does not load it.");
    return Status::Ok;
}

// Why a hive Quern can read may not be written; empty when it may.
// The names NAME.quern-orig (and .2 on) beside the hive that are the hive itself: a copy of it as it
// was kept as a second name, which a write that never got to replace it left behind.
static nlink_t backupNames(const std::string& target, const struct stat& st) {
    nlink_t names = 0;
    const std::string base = target + ".quern-orig";
    for (int n = 1; n < 100; ++n) {
        struct stat backup { };
        if (::lstat((n == 1 ? base : base + "." + std::to_string(n)).c_str(), &backup) != 0) break;
        if (backup.st_dev == st.st_dev && backup.st_ino == st.st_ino) ++names;
    }
    return names;
}

// The old content that commands left beside the hive when Quern stopped between the hive's
// rename and another file's: .NAME.quern-old-XXXXXX files that are not the hive itself. They stay
// until the user decides, as the hive may hold a change whose other half never reached the rest.
static std::vector<std::string> oldContentBeside(const std::string& target, const struct stat& live) {
    std::vector<std::string> kept;
    const std::string folder = folderOf(target);
    const std::string base = baseNameOf(target);
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            struct stat st { };
            const std::string path = folder + "/" + entry->d_name;
            if (isKeptOriginalName(entry->d_name, base) && ::lstat(path.c_str(), &st) == 0
                && !(st.st_dev == live.st_dev && st.st_ino == live.st_ino))
                kept.push_back(path);
        }
        ::closedir(dir);
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

static std::string whyNotWritable(const std::string& path, const struct stat& st) {
    const std::string name = baseNameOf(path);
    const std::string target = resolveLinks(path);
    if (otherNames(path, st) > backupNames(target, st))
        return name
            + " has other names (hard links); replacing it would leave them with the old content, so it is read-only.";
    // A hive its owner marked read-only stays as it is, even for root, who could replace it.
    if ((st.st_mode & 0222) == 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
        return name + " is marked read-only (mode " + mode + "), so it is read-only.";
    }
    if (::access(target.c_str(), W_OK) != 0)
        return name + " cannot be written (" + std::strerror(errno) + "), so it is read-only.";
    if (::access(folderOf(target).c_str(), W_OK) != 0)
        return "The folder of " + name + " cannot be written (" + std::strerror(errno)
            + "), so the hive cannot be replaced safely and is read-only.";
    return {};
}

// Refuses a file whose header is not that of a whole hive Quern can read (BadPath, with the
// sentence that says why); Ok otherwise.
static Status checkHeader(const std::string& path, std::string_view content) {
    if (content.size() < 4 || content.compare(0, 4, "regf") != 0)
        return Status(Status::BadPath,
            path + " is not a registry hive (it does not begin with \"regf\"). Quern does not load it.");
    if (content.size() < 2 * kBinsStart || content.size() - kBinsStart < le32(content, kBinsSize))
        return Status(Status::BadPath,
            path + " is not a whole registry hive: it is cut short, " + std::to_string(content.size())
                + " bytes, fewer than its header says it has. Quern does not load it.");
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < kChecksum; at += 4)
        sum ^= le32(content, at);
    // Windows never writes 0 or all ones as the checksum: it writes 1 and all ones but the last bit.
    const std::uint32_t expected = sum == 0 ? 1 : sum == 0xffffffffu ? 0xfffffffeu : sum;
    if (le32(content, kChecksum) != sum && le32(content, kChecksum) != expected)
        return Status(Status::BadPath,
            path + " is not a valid registry hive: the checksum of its header is wrong. Quern does not load it.");
    if (le32(content, kMajorVersion) != 1)
        return Status(Status::BadPath,
            path + " is not a registry hive Quern can read: its header gives format version "
                + std::to_string(le32(content, kMajorVersion)) + "." + std::to_string(le32(content, kMinorVersion))
                + ". Quern does not load it.");
    // A log beside a hive (.LOG, .LOG1, .LOG2) begins as a hive does: reading it as one would show
    // changes that were never made, and writing it would make a hive of it.
    if (const std::uint32_t type = le32(content, kFileType); type != 0)
        return Status(Status::BadPath,
            path + " is not a registry hive but "
                + (type == 1 || type == 2 ? "the log file of one" : "a file of another kind")
                + " (its header gives file type " + std::to_string(type)
                + "). Quern does not load it; load the hive the log belongs to.");
    return Status::Ok;
}

// Why a hive whose header Quern accepts must still stay read-only; empty when nothing in the
// header says so.
static std::string headerReadOnlyReason(const std::string& name, std::string_view content) {
    // Versions 1.1 to 1.6 are the ones Windows has written; a later one may hold records hivex
    // would write over without knowing them.
    if (const std::uint32_t minor = le32(content, kMinorVersion); minor < 1 || minor > 6)
        return name + " has format version 1." + std::to_string(minor)
            + ", which Quern does not know, so it is read-only: writing it could lose what that version holds.";
    // Two sequence numbers that differ mean a write of Windows' own was not finished in the file
    // itself: its changes wait in the .LOG1/.LOG2 files beside it. The file alone is stale, and a
    // hive written from it would lose them for good.
    if (le32(content, kSequence1) != le32(content, kSequence2))
        return name
            + " has changes in its log files (.LOG1, .LOG2) that were not applied to it, so it is read-only: "
              "what it shows may be out of date, and writing it would drop those changes. Let Windows start once "
              "from this installation, or apply the logs with a tool that replays them, then load it again.";
    return {};
}

Status OfflineHive::load(std::unique_ptr<Key>& tree) {
    UniqueFd file;
    struct stat st { };
    if (const Status opened = openRegularFile(m_path, kHiveFileLimit, file, st); !opened.ok())
        return Status(Status::BadPath, m_path + " " + opened.message() + ".");
    auto mapping = std::make_unique<FileMapping>();
    if (!mapping->map(file.get(), static_cast<std::size_t>(st.st_size)))
        return Status(Status::BadPath, m_path + " cannot be read (" + std::strerror(errno) + ").");
    const std::string_view content = mapping->bytes();
    if (const Status header = checkHeader(m_path, content); !header.ok()) return header;
    // Nothing of the hive changes until the file is known to be whole: a hive read again that turns
    // out damaged keeps what it showed.
    std::string reason = m_options.readOnlyReason;
    if (reason.empty()) reason = headerReadOnlyReason(m_name, content);
    if (reason.empty()) reason = whyNotWritable(m_path, st);
    auto reader = std::make_unique<Reader>(*this, std::move(mapping));
    reader->walkBins();
    if (const Status st2 = reader->checkAll(); !st2.ok()) return st2;
    if (const Status st2 = reader->readRoot(tree); !st2.ok()) return st2;
    if (reason.empty()) reason = reader->loadProblem();
    reader->loaded();
    readOnlyReason = std::move(reason);
    m_minorVersion = le32(content, kMinorVersion);
    m_reader = std::move(reader);
    m_stamp = stampOf(st);
    m_loadMessages.clear();
    // Damage that leaves keys out of what is shown is said at once: a query or a search that does
    // not meet them would otherwise be silent about them.
    if (!m_reader->loadProblem().empty()) m_loadMessages.push_back(m_reader->loadProblem());
    for (const std::string& kept : oldContentBeside(resolveLinks(m_path), st))
        m_loadMessages.push_back("A Quern stopped while it replaced the files of one command: " + m_path
            + " may hold that command's change while another file of it (a Wine registry file, another hive) does "
              "not. What the hive held before is kept beside it as "
            + kept + ": rename it over the hive to take the change back, or delete it to keep the change.");
    // Every writer of hives (Windows, hivex) counts its writes in the header: with the file's size,
    // time and inode it tells whether the file is still the one read, without reading it all now.
    m_header.assign(content.substr(0, kBinsStart));
    m_hash.reset();
    m_newLinks.clear();
    // hivex's copy, if any, is of the file as it was: it is read again for the next change.
    if (m_handle) hivex_close(m_handle);
    m_handle = nullptr;
    m_writable = false;
    return Status::Ok;
}

Status OfflineHive::readSubkeys(Key& key) {
    return m_reader->readSubkeys(key);
}

Status OfflineHive::readValues(Key& key) {
    return m_reader->readValues(key);
}

Status OfflineHive::valueInFile(
    Key& key, std::size_t index, std::u16string& name, std::uint32_t* type, std::vector<std::uint8_t>* data) {
    return m_reader->valueInFile(key, index, name, type, data);
}

Status OfflineHive::valueSizesInFile(Key& key, KeyInfo& info) {
    return m_reader->valueSizes(key, info);
}

void OfflineHive::subkeysLeftOut(const Key& key, std::vector<std::u16string>& names) {
    m_reader->subkeysLeftOut(key, names);
}

bool OfflineHive::changedOnDisk() const {
    struct stat st { };
    if (::stat(m_path.c_str(), &st) != 0) return true;
    const FileStamp now = stampOf(st);
    return now != m_stamp;
}

Status OfflineHive::reload(std::unique_ptr<Key>& tree) {
    const Status st = load(tree);
    // What is shown stays, read-only, with the reason: a refresh cannot show the file as it is now.
    if (!st.ok()) readOnlyReason = m_name + " changed on disk and cannot be read again: " + st.message();
    return st;
}

Status OfflineHive::mayChange() {
    if (!readOnlyReason.empty()) return Status(Status::AccessDenied, readOnlyReason);
    if (changedOnDisk())
        return Status(Status::ChangedOnDisk,
            m_name + " was changed on disk since Quern read it. Nothing was changed; refresh (F5) to read it again.");
    if (!m_writable && !openHandle(true).ok()) {
        readOnlyReason = m_name + " can be read but hivex cannot open it for writing (" + std::strerror(errno)
            + "), so it is read-only.";
        (void)openHandle(false);
        return Status(Status::AccessDenied, readOnlyReason);
    }
    return Status::Ok;
}

// The hive as it is on disk now, which must be the one that was read; content gets its bytes.
Status OfflineHive::checkUnchanged(std::string& content) const {
    struct stat st { };
    const Status changed(Status::ChangedOnDisk,
        m_name + " was changed on disk since Quern read it. Nothing was written; refresh (F5) to read it again.");
    if (changedOnDisk()) return changed;
    if (const Status read = readRegularFile(m_path, kHiveFileLimit, content, st); !read.ok())
        return Status(Status::WriteFailed, m_path + " " + read.message() + "; nothing was written.");
    // Until the hive is first written, its size, time, inode and header tell: the whole file is not
    // read at load. From then on the fingerprint of what Quern wrote does.
    if (m_hash ? fingerprint(content) != *m_hash : content.compare(0, kBinsStart, m_header) != 0) return changed;
    return Status::Ok;
}

// Keeps the hive as it was before Quern first wrote it beside it, never over an older copy that
// differs: NAME.quern-orig, else NAME.quern-orig.2 and on. A name taken by anything else (a symbolic
// link, even one that leads nowhere, a folder) is passed over: it is never followed nor removed.
Status OfflineHive::makeBackup(const std::string& content) {
    const std::string target = resolveLinks(m_path);
    const std::string base = target + ".quern-orig";
    for (int n = 1; n < 100; ++n) {
        const std::string candidate = n == 1 ? base : base + "." + std::to_string(n);
        struct stat st { };
        if (::lstat(candidate.c_str(), &st) == 0) {
            std::string existing;
            if (S_ISREG(st.st_mode) && readRegularFile(candidate, kHiveFileLimit, existing, st).ok()
                && existing == content) {
                m_backupPath = candidate;
                return Status::Ok;
            }
            continue;
        }
        // The hive is only ever replaced by a rename, never written in place: a second name of the
        // file as it is keeps it as it was, with no copy to write and flush. Where the file system
        // has no hard links, it is copied.
        const int linked = m_options.hardLink ? m_options.hardLink(target.c_str(), candidate.c_str())
                                              : ::link(target.c_str(), candidate.c_str());
        if (linked != 0 && errno == EEXIST) continue; // taken meanwhile: not ours to touch
        if (linked == 0) {
            // The copy must be on disk before the hive is replaced: a crash could otherwise leave
            // the new hive and no copy of the old one.
            if (const int error = flushFolder(folderOf(target), m_options.syncFolder); error != 0) {
                ::unlink(candidate.c_str());
                return Status(Status::WriteFailed,
                    "The folder of " + m_path
                        + " could not be flushed to disk after the copy of the hive as it was was " + "made ("
                        + std::strerror(error) + "); nothing was written.");
            }
            m_backupPath = candidate;
            m_backupIsNew = true;
            return Status::Ok;
        }
        if (const Status written = AtomicFile::writeWhole(candidate, content); !written.ok())
            return Status(Status::WriteFailed,
                "The copy of " + m_name + " as it was could not be written to " + candidate + " (" + written.message()
                    + "); nothing was written.");
        m_backupPath = candidate;
        m_backupIsNew = true;
        return Status::Ok;
    }
    return Status(Status::WriteFailed, "There are too many copies of " + m_name + " beside it; nothing was written.");
}

Status OfflineHive::hivexFailure(const std::string& what) const {
    return Status(Status::WriteFailed, m_path + ": " + what + " (" + std::strerror(errno) + "); nothing was written.");
}

Status OfflineHive::setValues(std::size_t node, const Key& key, bool existing) {
    std::vector<std::string> names;
    names.reserve(key.values.size());
    std::vector<hive_set_value> values;
    values.reserve(key.values.size());
    const bool bigData = m_minorVersion >= kFirstBigDataVersion;
    for (const RawValue& value : key.values) {
        const bool big = bigData && value.data.size() > kMaxSingleCellData;
        if (big && value.data.size() > kMaxReadableValue)
            return Status(Status::WriteFailed,
                m_path + ": \"" + toUtf8(value.name) + "\" in " + keyPath(&key) + " holds "
                    + std::to_string(value.data.size())
                    + " bytes, more than hivex reads back in one value (8,000,000), so the hive could not be loaded "
                      "again; nothing was written.");
        if (big) m_bigValues.push_back({ node, values.size(), &value.data });
        std::u16string stand;
        if (standIn(value.name, stand)) m_names.push_back({ node, values.size(), &value.name });
        names.push_back(toUtf8(stand.empty() ? value.name : stand));
        values.push_back({ names.back().data(), static_cast<hive_type>(value.type), big ? 0 : value.data.size(),
            const_cast<char*>(reinterpret_cast<const char*>(value.data.data())) });
    }
    // hivex frees a replaced value's "db" cell but not its segments, which go here.
    if (existing) collectCellsLeftInUse(m_before, node, false, m_freedCells);
    if (hivex_node_set_values(m_handle, node, values.size(), values.data(), 0) != 0)
        return hivexFailure("the values of " + keyPath(&key) + " could not be set");
    m_writtenKeys.push_back({ node, &key, !existing });
    return Status::Ok;
}

Status OfflineHive::addTree(std::size_t parentNode, Key& key) {
    // A key put back by Undo may still have its values in the file where it was read: they are
    // read from there before the key takes the node hivex makes for it.
    if (key.valuesInFile)
        if (const Status st = m_reader->readValues(key); !st.ok()) return st;
    std::u16string stand;
    const bool standing = standIn(key.name, stand);
    const std::size_t node = hivex_node_add_child(m_handle, parentNode, toUtf8(standing ? stand : key.name).c_str());
    if (node == 0) return hivexFailure("the key " + keyPath(&key) + " could not be added");
    if (standing) m_names.push_back({ node, SIZE_MAX, &key.name });
    key.source = { node, 1 };
    if (key.isLink) m_newLinks.insert(node);
    // hivex files it under a hash of its UTF-8 bytes and in the order of strcasecmp; the list is
    // given Windows' hashes and order once written.
    m_addedNodes.insert(node);
    m_grownNodes.insert(parentNode);
    if (const Status st = setValues(node, key, false); !st.ok()) return st;
    key.dirty = false;
    for (auto& sub : key.subkeys)
        if (const Status st = addTree(node, *sub); !st.ok()) return st;
    return Status::Ok;
}

// A changed key: its subkeys that went are deleted, the new ones added, its values set anew. A
// subkey stays when the hive has its node below this key still; one that Undo brought back holds
// the node it had before it was deleted, which is gone, and is added anew.
Status OfflineHive::writeKey(Key& key) {
    const std::size_t node = nodeOf(key);
    // Subkeys still in the file are the ones hivex's copy holds: none came or went.
    if (!key.subkeysInFile)
        if (const Status st = writeSubkeys(node, key); !st.ok()) return st;
    // Values still in the file are the ones hivex's copy holds already; the key's time is written.
    if (!key.valuesInFile) {
        if (const Status st = setValues(node, key, true); !st.ok()) return st;
    } else {
        m_writtenKeys.push_back({ node, &key, false });
    }
    key.dirty = false;
    return Status::Ok;
}

// The subkeys of a changed key that went are deleted from hivex's copy, and the new ones added.
Status OfflineHive::writeSubkeys(std::size_t node, Key& key) {
    hive_node_h* children = hivex_node_children(m_handle, node);
    if (!children) return hivexFailure("the subkeys of " + keyPath(&key) + " could not be read");
    std::unordered_set<std::size_t> present;
    for (std::size_t i = 0; children[i]; ++i)
        present.insert(children[i]);
    std::free(children);
    std::unordered_set<std::size_t> staying;
    for (const auto& sub : key.subkeys)
        if (nodeOf(*sub) && present.count(nodeOf(*sub))) staying.insert(nodeOf(*sub));
    std::vector<std::size_t> gone;
    for (const std::size_t child : present)
        if (!staying.count(child)) gone.push_back(child);
    // hivex drops the list it emptied (still in use) when it then adds a subkey to an empty key.
    const bool adding = std::any_of(
        key.subkeys.begin(), key.subkeys.end(), [&](const auto& sub) { return !staying.count(nodeOf(*sub)); });
    if (adding && staying.empty()) collectSubkeyListCells(m_before, node, m_freedCells);
    for (const std::size_t child : gone) {
        m_newLinks.erase(child);
        collectCellsLeftInUse(m_before, child, true, m_freedCells);
        if (hivex_node_delete_child(m_handle, child) != 0)
            return hivexFailure("a subkey of " + keyPath(&key) + " could not be deleted");
    }
    for (auto& sub : key.subkeys)
        if (!staying.count(nodeOf(*sub)))
            if (const Status st = addTree(node, *sub); !st.ok()) return st;
    return Status::Ok;
}

Status OfflineHive::replay(Key& key) {
    if (key.dirty)
        if (const Status st = writeKey(key); !st.ok()) return st;
    for (auto& sub : key.subkeys)
        if (const Status st = replay(*sub); !st.ok()) return st;
    return Status::Ok;
}

Status OfflineHive::prepareChanges() {
    if (!m_writable) return Status(Status::AccessDenied, m_name + " is not open for writing; nothing was written.");
    std::string content;
    if (const Status st = checkUnchanged(content); !st.ok()) return st;
    if (m_backupPath.empty())
        if (const Status st = makeBackup(content); !st.ok()) return st;
    clearPatches();
    m_before = std::move(content);
    Status st = replay(*root);
    if (st.ok()) st = writeTemporary();
    clearPatches();
    return st;
}

void OfflineHive::clearPatches() {
    m_before = {};
    m_bigValues.clear();
    m_names.clear();
    m_writtenKeys.clear();
    m_addedNodes.clear();
    m_grownNodes.clear();
    m_freedCells.clear();
}

// hivex writes the whole new hive into a temporary file beside the old one, what it cannot write
// is put into that file, and only a complete, flushed file replaces the hive.
Status OfflineHive::writeTemporary() {
    const std::string target = resolveLinks(m_path);
    std::string temp = folderOf(target) + "/." + baseNameOf(target) + ".quern-XXXXXX";
    const int made = ::mkstemp(temp.data());
    if (made < 0) return hivexFailure("no temporary file can be made beside it");
    struct stat old { };
    if (::stat(target.c_str(), &old) == 0) {
        // The hive stays its owner's where this process may say so (root, or a member of its
        // group): a hive root edits for a user stays the user's.
        if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) && ::fchown(made, old.st_uid, old.st_gid) != 0)
            (void)::fchown(made, static_cast<uid_t>(-1), old.st_gid);
        (void)::fchmod(made, old.st_mode & 07777);
    }
    ::close(made);
    if (hivex_commit(m_handle, temp.c_str(), 0) != 0) {
        const Status st = hivexFailure("the new hive could not be written");
        ::unlink(temp.c_str());
        return st;
    }
    std::string written;
    if (const Status st = completeTemporary(temp, written); !st.ok()) {
        ::unlink(temp.c_str());
        return st;
    }
    m_temp = std::move(temp);
    m_tempHash = fingerprint(written);
    return Status::Ok;
}

// Puts what hivex cannot write into the hive it wrote at temp, flushes it, and gives its bytes.
Status OfflineHive::completeTemporary(const std::string& temp, std::string& written) {
    struct stat st { };
    if (!readRegularFile(temp, kHiveFileLimit, written, st).ok())
        return hivexFailure("the new hive could not be read back");
    HiveImage image(std::move(written));
    auto patched = [&](bool ok) {
        return ok ? Status::Ok
                  : Status(Status::WriteFailed,
                      m_path + ": the new hive is not as hivex was asked to write it (" + image.error
                          + "); nothing was written.");
    };
    for (const Name& name : m_names)
        if (const Status s = patched(name.index == SIZE_MAX ? image.setKeyName(name.node, *name.units)
                                                            : image.setValueName(name.node, name.index, *name.units));
            !s.ok())
            return s;
    for (const std::size_t node : m_newLinks)
        if (const Status s = patched(image.markLink(node)); !s.ok()) return s;
    for (const BigValue& big : m_bigValues)
        if (const Status s = patched(image.setBigData(big.node, big.index, *big.data)); !s.ok()) return s;
    for (const std::size_t node : m_grownNodes)
        if (const Status s = patched(image.sortSubkeys(node, m_addedNodes)); !s.ok()) return s;
    // Each key written gets the time the registry gave its change (hivex leaves a changed key's
    // time and gives a new key its parent's), and a key added back by Undo its class name.
    for (const WrittenKey& done : m_writtenKeys) {
        image.dropEmptySubkeyList(done.node);
        if (done.key->modified)
            if (const Status s = patched(image.setKeyTime(done.node, done.key->modified)); !s.ok()) return s;
        if (done.added && done.key->hasClass && done.key->extra && !done.key->extra->className.empty())
            if (const Status s = patched(image.setClassName(done.node, done.key->extra->className)); !s.ok()) return s;
    }
    image.freeCells(m_freedCells);
    image.finish();
    const UniqueFd file(::open(temp.c_str(), O_WRONLY | O_CLOEXEC));
    if (!file.valid()) return hivexFailure("the new hive could not be opened");
    for (const auto& [begin, end] : image.changedRanges()) {
        for (std::size_t at = begin; at < end;) {
            const ssize_t n = ::pwrite(file.get(), image.bytes().data() + at, end - at, static_cast<off_t>(at));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return hivexFailure("the new hive could not be completed");
            at += static_cast<std::size_t>(n);
        }
    }
    if (image.changed()) {
        if (::ftruncate(file.get(), static_cast<off_t>(image.bytes().size())) != 0)
            return hivexFailure("the new hive could not be completed");
        m_handleStale = true;
    }
    if (::fsync(file.get()) != 0) return hivexFailure("the new hive could not be flushed to disk");
    written = image.bytes();
    return Status::Ok;
}

Status OfflineHive::placeChanges() {
    if (m_temp.empty()) return Status::Ok;
    const std::string target = resolveLinks(m_path);
    if (const Status kept = m_original.keep(target, m_options.hardLink); !kept.ok()) {
        abandonChanges();
        return Status(Status::WriteFailed,
            m_path + ": the old hive cannot be kept beside it until the command's other files are in place ("
                + kept.message() + "); nothing was written.");
    }
    if (m_options.beforeReplace) m_options.beforeReplace(m_temp);
    if (changedOnDisk()) {
        m_original.drop();
        abandonChanges();
        return Status(Status::ChangedOnDisk,
            m_name + " was changed on disk while Quern wrote it. Nothing was written; refresh (F5) to read it again.");
    }
    if (const Status replaced = replaceWithTemporary(target); !replaced.ok()) return replaced;
    return settleReplaced(target);
}

// Renames the new hive over target while target is still the file read; on any other outcome the
// new hive goes and the old one stays.
Status OfflineHive::replaceWithTemporary(const std::string& target) {
    // The look above and the rename are one step: a hive another program renamed into place in
    // between is found by the exchange and stays.
    const Status replaced = replaceIfStill(m_temp, target, m_stamp);
    if (replaced == Status::ChangedOnDisk) {
        // Rarely, the other program's hive cannot be put back: Quern's is then in place, and the
        // temporary name, cleared, holds the other one.
        const bool swapped = m_temp.empty();
        m_original.drop();
        abandonChanges();
        return Status(Status::ChangedOnDisk,
            m_name + " was changed on disk while Quern wrote it"
                + (swapped ? ", and " + replaced.message() + "; Quern's hive is in place" : ". Nothing was written")
                + "; refresh (F5) to read it again.");
    }
    if (!replaced.ok()) {
        // Not "nothing was written": other files of the batch may have been, and are put back.
        const Status st(Status::WriteFailed,
            m_path + ": the new hive could not replace the old one (" + replaced.message()
                + "), which stays as it was.");
        m_original.drop();
        abandonChanges();
        return st;
    }
    return Status::Ok;
}

// The new hive is in place: it lasts once its folder is flushed, and becomes what the registry
// compares the file with.
Status OfflineHive::settleReplaced(const std::string& target) {
    m_temp.clear();
    m_originalHash = m_hash;
    ++m_writes;
    // The rename lasts only once the folder is on disk: a hive that might go back to the old one at
    // a crash is not kept, it is put back now.
    if (const int error = flushFolder(folderOf(target), m_options.syncFolder); error != 0) {
        const std::string failed = "The folder of " + m_path
            + " could not be flushed to disk after the hive was replaced (" + std::strerror(error) + ").";
        std::string why;
        if (takeBackChanges(why))
            return Status(Status::WriteFailed, failed + " The old hive was put back." + (why.empty() ? "" : " " + why));
        return Status(Status::WriteFailed, failed + " " + why);
    }
    struct stat st { };
    ::stat(m_path.c_str(), &st);
    m_stamp = stampOf(st);
    m_hash = m_tempHash;
    // hivex's copy lacks what was put into the file after it wrote it (link flags, big-data
    // records, hashes, times), and would write it over the next time: it reads the file again at
    // the next change.
    m_newLinks.clear();
    if (m_handleStale) {
        m_handleStale = false;
        hivex_close(m_handle);
        m_handle = nullptr;
        m_writable = false;
    }
    return Status::Ok;
}

// The old hive goes back in place of the new one, and is again what the registry compares the
// file with; reverted() then reads hivex's copy again from it.
bool OfflineHive::takeBackChanges(std::string& why) {
    if (!m_original.holds()) return true;
    const KeptOriginal::PutBack putBack = m_original.putBack(m_options.syncFolder);
    if (!putBack.back.ok()) {
        // The file holds a change the registry no longer shows: it must be read again before any
        // other change, never written over. The copy of the original stays, whatever made it.
        m_stamp = {};
        m_backupIsNew = false;
        why = m_path + " could not be put back as it was (" + putBack.back.message()
            + "): it holds the command's change, which Quern no longer shows; its old content is beside it as "
            + m_original.keptPath() + ". Refresh (F5) to read it again.";
        return false;
    }
    --m_writes;
    struct stat st { };
    ::stat(m_path.c_str(), &st);
    m_stamp = stampOf(st);
    m_hash = m_originalHash;
    if (!putBack.flushed.ok()) why = m_path + ": " + putBack.flushed.message() + ".";
    return true;
}

void OfflineHive::abandonChanges() {
    if (!m_temp.empty()) ::unlink(m_temp.c_str());
    m_temp.clear();
}

// A write that failed left hivex's copy of the hive with changes the registry has taken back:
// the copy is read again from the file, which is as it was.
void OfflineHive::reverted() {
    // Nothing of the batch was written: a copy of the original made for it is not needed yet.
    if (m_backupIsNew) {
        ::unlink(m_backupPath.c_str());
        m_backupPath.clear();
        m_backupIsNew = false;
    }
    m_newLinks.clear();
    m_handleStale = false;
    if (!openHandle(true).ok())
        readOnlyReason = m_name + " cannot be read again after a write failed, so it is read-only now.";
}

Status mountHiveFile(
    MemoryRegistry& store, HKey at, std::u16string_view name, const std::string& path, HiveOpenOptions options) {
    std::unique_ptr<OfflineHive> hive;
    std::unique_ptr<Key> tree;
    if (const Status st = OfflineHive::open(path, std::move(options), hive, tree); !st.ok()) return st;
    const std::vector<std::string> messages = hive->loadMessages();
    if (const Status st = store.mount(at, name, std::move(hive), std::move(tree)); !st.ok()) return st;
    for (const std::string& message : messages)
        store.addLoadMessage(message);
    return Status::Ok;
}

} // namespace quern::reg
