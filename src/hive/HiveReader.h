#pragma once

#include "codec/FileMapping.h"
#include "hive/OfflineHive.h"
#include "store/KeyArena.h"
#include "store/RegTree.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace quern::reg {

// The cell of a key read from a hive file (0 for a key that is not in the file).
[[nodiscard]] std::size_t nodeOf(const Key& key);
// A key of the hive being read or written, for messages: its path in quotes, or the root key.
[[nodiscard]] std::string keyPath(const Key* key);

// Reads the keys of the mapped hive file when they are first asked for, guarding against what a
// damaged file may hold: a subkey list that leads back to a key already read, cells outside the
// file, nesting deeper than any registry allows, two subkeys or two values of one name. Every read
// checks its bounds again, even of a key read before: the file may change under the mapping.
//
// A key is made when its parent's subkeys are first read; its values are checked then (each
// record inside the file, each name once) and from then on served from the file as they stand,
// until one changes and they are read into the key's list.
class OfflineHive::Reader {
public:
    Reader(OfflineHive& hive, std::unique_ptr<FileMapping> mapping)
        : m_hive(hive)
        , m_mapping(std::move(mapping))
        , m_bytes(m_mapping->bytes())
        , m_visited(m_bytes.size() / 4 + 1) { }

    [[nodiscard]] bool faulted() const { return m_mapping->faulted(); }

    Status readRoot(std::unique_ptr<Key>& tree);

    // The load is over: damage found from now on is in a hive that is shown already.
    void loaded() { m_loaded = true; }
    // Why the hive is read-only, found while it was loaded; empty when nothing was.
    [[nodiscard]] const std::string& loadProblem() const { return m_loadProblem; }

    Status readSubkeys(Key& key);

    Status readValues(Key& key);

    Status valueInFile(
        Key& key, std::size_t index, std::u16string& name, std::uint32_t* type, std::vector<std::uint8_t>* data);

    Status valueSizes(Key& key, KeyInfo& info);

    // Goes over every key and value record of the file once, reading nothing into memory, so that
    // a hive damaged anywhere is refused when it is loaded rather than when a walk meets the damage
    // (a walk, an export, a search would otherwise end early there). What it checks the lazy reads
    // check again, as the file may change under the mapping.
    Status checkAll();

    // Asks for the record at a cell ahead of its use, so that reads from memory overlap.
    void prefetch(std::size_t cell) const;

    // Whether a value's data lies inside the file, read from its record alone.
    [[nodiscard]] bool dataInside(std::size_t record) const;

    // Walks the bins as hivex does when it opens the hive, marking where each cell in use starts:
    // hivex frees and rewrites only cells that start there, and ends the process (an assertion,
    // not an error) when asked to free anything else. A hive whose bins are not laid out so is
    // read-only: hivex does not open it for writing.
    void walkBins();

    // The names of the subkeys of a key read from the file that are not shown: names no path can
    // reach, or that run past their record.
    void subkeysLeftOut(const Key& key, std::vector<std::u16string>& names);

private:
    // The walk of checkAll, depth first: the keys on the way down are the frames, their subkeys
    // still to check lie in pending from each frame's next on.
    struct CheckFrame {
        std::size_t cell;
        std::size_t start; // its subkeys in pending: [start, end), checked up to next
        std::size_t next;
        std::size_t end;
        std::u16string lastChild; // the name of the subkey checked last, to tell the next from it
        // Once a subkey came out of the hive's order, the upper-cased names of all checked so far.
        std::unique_ptr<std::unordered_set<std::u16string>> names;
    };
    struct CheckWalk {
        std::vector<CheckFrame> frames;
        std::vector<std::size_t> pending;
        std::vector<bool> seen; // a bit a possible cell: a key checked there
    };
    // The key the first depth frames lead to as messages name it, read from the file only when
    // something is wrong.
    [[nodiscard]] std::string checkedPath(const CheckWalk& walk, std::size_t depth) const;
    // Whether m_name, the subkey checked now, is one an earlier subkey of parent had. A list in the
    // hive's order has such two side by side; one out of order is checked through a set of them all.
    bool twinSubkey(CheckFrame& parent, const std::vector<std::size_t>& cells);
    // What hivex frees or rewrites when it writes must be a cell in use where its bins lay one out:
    // it ends the process on any other offset. The key checked now has what, so it is read-only.
    void unwritable(const CheckWalk& walk, const std::string& what);
    // Checks the key at node, whose parent the frames lead to, and goes down into it: a frame of
    // its own, its subkeys listed in pending.
    Status enterKey(CheckWalk& walk, std::size_t node);
    // Names that no path can reach, and two subkeys of one name, which a list in the hive's order
    // has side by side: the hive is read-only, as a write would drop one.
    void checkSubkeyName(CheckWalk& walk, std::size_t node, std::size_t nameLength);
    // The key's class name and security record, which hivex rewrites.
    Status checkKeyCells(const CheckWalk& walk, std::size_t record);
    // The key's value list and each value record in it.
    Status checkValueRecords(const CheckWalk& walk, std::size_t record);
    Status checkValueRecord(const CheckWalk& walk, std::size_t value);
    // Lists the key's subkeys in pending, and tells when the list holds another number than the
    // key says it has.
    Status listCheckedSubkeys(CheckWalk& walk, std::size_t record);

    // Whether a record of length bytes stands in a cell in use, inside the file: a length that runs
    // past its cell reads the cells beside it.
    [[nodiscard]] bool holds(std::size_t cell, std::size_t length) const;

    // Whether hivex may free or rewrite the cell: one in use, of length bytes at least, that starts
    // where the bin walk found a cell start.
    [[nodiscard]] bool isCell(std::size_t cell, std::size_t length) const;

    // A key's security record, which hivex counts down when it deletes the key and unlinks from its
    // chain when none is left: it and the two it is chained to are written then.
    bool securityCell(std::size_t cell);

    // Whether a value's data, checked inside the file already, stands in cells hivex may free, each
    // holding what is read from it.
    [[nodiscard]] bool dataInCells(std::size_t record) const;

    // The name of the subkey at child, whose record lies inside the file, as far as its cell holds
    // it; false when it is not shown: a name no path can reach (empty, too long, holding a
    // backslash or a NUL) or one that runs past its record.
    bool shownName(std::size_t child, std::u16string& name) const;

    [[nodiscard]] bool holdsNul(std::size_t at, std::size_t length, bool compressed) const;

    // A page of the file that went while it was read reads as zeros: what was read is not the file.
    Status checked();

    // The hive stays read-only with the same words until it is read again, so the window says why
    // what it shows ends there.
    Status changed();

    // The file is damaged, or was changed on disk under the mapping: a hive found damaged is never
    // written, and one already shown stays so, read-only, for what can still be read of it.
    Status damaged(const std::string& what);

    // Something in the hive would be lost by a write: it is read-only from now on (from the end of
    // the load, when found while loading).
    void problem(const std::string& what);

    // Whether a record of length bytes at a cell lies inside the file.
    [[nodiscard]] bool inside(std::size_t cell, std::size_t length) const;

    void assignName(std::u16string& name, std::size_t at, std::size_t length, bool compressed) const;

    // Whether the record at offset begins with the two letters of its kind ("nk", "vk", ...).
    [[nodiscard]] bool isKind(std::size_t at, const char (&kind)[3]) const;

    // The cells of a subkey list: lf and lh lists (offset and hash), li lists (offsets), and an ri
    // list of those, one level deep. where() names the key for a message.
    template<typename Where>
    Status listCells(std::size_t cell, std::vector<std::size_t>& out, bool index, const Where& where);

    // What the key record says of the key itself; its values are checked now and served from the
    // file later, or, when they are not all as they should be, read into its list at once.
    Status readNode(std::size_t node, Key& key);

    Status readClass(std::size_t record, Key& key);

    // The index of the first value of a list whose name an earlier one has already, or -1. The
    // records must have been checked. Names of different lengths differ: most are told apart
    // without reading them.
    std::ptrdiff_t twinValue(std::size_t list, std::size_t count);

    // Whether the key's values can be served from the file as they stand: every record inside it
    // and each name once (serving a value checks its data). Otherwise they are read into the key's
    // list now, which says what is wrong.
    Status checkValues(Key& key);

    Status valueList(const Key& key, std::size_t& list, std::size_t& count);

    Status valueRecord(
        const Key& key, std::size_t list, std::size_t index, std::size_t& record, std::size_t& nameLength);

    Status value(const Key& key, std::size_t list, std::size_t index, std::u16string& name, std::uint32_t* type,
        std::vector<std::uint8_t>* data);

    // Where a value's data stands: up to four bytes in the record itself, else in a cell of its
    // own, and data too large for one cell, from version 1.4 on, in a big-data record: a list of
    // segments of at most 16,344 bytes. With out set, the data is copied there.
    Status dataOf(
        const Key& key, std::size_t record, const char*& at, std::size_t& length, std::vector<std::uint8_t>* out);

    template<typename Bad>
    Status bigData(std::size_t cell, std::size_t length, std::vector<std::uint8_t>* out, const Bad& bad);

    // Marks a key's cell as read; false when it was read already (or is no cell of the file). A bit
    // a possible cell, as cells start on four-byte bounds: no hashing and no allocation per key.
    bool visit(std::size_t cell);

    // Values of a key up to this many are told apart pairwise; more, through a set of their names.
    static constexpr std::size_t kPairwise = 16;

    OfflineHive& m_hive;
    std::unique_ptr<FileMapping> m_mapping;
    std::string_view m_bytes;
    std::vector<bool> m_visited;
    std::vector<bool> m_cells; // a bit a possible cell: a cell in use starts there, as the bin walk found
    bool m_binsWalked = false;
    std::unordered_set<std::size_t> m_goodSecurity; // security records checked, shared by many keys
    KeyArena m_arena; // the keys read, with the memory of a hive's keys in few large chunks
    bool m_loaded = false;
    std::string m_loadProblem;
    bool m_valueTwins = false; // some key has two values of one name
    // Kept between calls to spare an allocation per key.
    std::vector<std::size_t> m_children;
    struct NameAt {
        std::size_t at;
        std::size_t length;
        bool compressed;
        std::size_t units;
    };
    std::u16string m_name;
    std::u16string m_other;
    std::vector<NameAt> m_records;
    std::unordered_set<std::u16string> m_seen;
};

} // namespace quern::reg
