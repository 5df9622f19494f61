#pragma once

#include "import/RegFileReader.h"
#include "store/RegStore.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quern {

// One change that importing a file (or going from one backup to another) makes to the registry.
struct RegChange {
    enum class Kind { KeyAdded, KeyDeleted, ValueAdded, ValueChanged, ValueDeleted };
    Kind kind = Kind::KeyAdded;
    std::string keyPath; // the key's path with the root's long name, UTF-8
    std::u16string valueName; // for the value kinds; empty for the default value
    std::uint32_t oldType = reg::kRegNone; // ValueChanged and ValueDeleted: what was there
    std::vector<std::uint8_t> oldData;
    std::uint32_t newType = reg::kRegNone; // ValueAdded and ValueChanged: what will be there
    std::vector<std::uint8_t> newData;
    std::size_t line = 0; // the file line that makes the change; 0 in a comparison of two files
};

// The changes in the order they happen, and how many of each kind.
struct ImportPlan {
    std::vector<RegChange> changes;
    std::size_t keysAdded = 0;
    std::size_t keysDeleted = 0; // each with everything below it
    std::size_t valuesAdded = 0;
    std::size_t valuesChanged = 0;
    std::size_t valuesDeleted = 0;

    [[nodiscard]] bool empty() const { return changes.empty(); }
    void add(RegChange change);
};

// A change as one line of a list or of quern-reg's output: what happens, the key, the value's
// name and its old and new data, as reg query shows data.
[[nodiscard]] std::string changeLine(const RegChange& change);
// The counts as one sentence: "2 keys added, 1 value changed", or "No changes."
[[nodiscard]] std::string planSummary(const ImportPlan& plan);

// What importing content would change, read from the registry without writing anything (so a
// read-only registry can be compared too). A [-KEY] of a key that is not there, a value set to
// what it holds and a deletion of a missing value change nothing and are left out. When a key the
// file names cannot be read, the store's status, its words after "FILE:LINE: KEY: ", and no plan.
// A long import's progress: told now and then how many of the file's keys are done; false stops
// the plan or the import, which then gives kImportCancelled and, as any failure, writes nothing.
using ImportProgress = std::function<bool(std::size_t keysDone, std::size_t keys)>;
inline constexpr const char* kImportCancelled = "The import was cancelled; nothing was written.";

reg::Status planImport(
    reg::RegStore& store, const RegFileContent& content, ImportPlan& plan, const ImportProgress& progress = {});

// Imports content as one batch: every key made, value set and key or value deleted is written
// together, or, when any of it fails, none of it and the files stay as they were; the status then
// says which line failed and why. A [-KEY] on a link key deletes the link, never what it points to.
reg::Status applyImport(reg::RegStore& store, const RegFileContent& content, const ImportProgress& progress = {});
// Why some key the file changes cannot change (the first found); empty when all of them can.
[[nodiscard]] std::string importReadOnlyReason(reg::RegStore& store, const RegFileContent& content);

// What differs from the registry in oldStore to the one in newStore, below every root: keys and
// values added, changed and deleted on the way from old to new. A deleted key is one change,
// whatever was below it; an added key is followed by its values.
ImportPlan compareStores(reg::RegStore& oldStore, reg::RegStore& newStore);

// What differs from the key oldKey of oldStore to the key newKey of newStore, each with everything
// below it, the changes' paths below path (the old key's). A key missing on one side is kNoKey: the
// whole other side is added, or the old key deleted.
ImportPlan compareKeys(
    reg::RegStore& oldStore, reg::HKey oldKey, reg::RegStore& newStore, reg::HKey newKey, const std::string& path);
// Reads the registry file at path into store (an empty registry of its own, as a side of a
// comparison): the reader's or the import's status when it cannot be.
reg::Status readRegFileInto(const std::string& path, reg::RegStore& store);

// Compares two backups: each is imported into an empty registry in memory and the two compared.
// The import's status when either cannot be imported.
reg::Status compareFiles(const RegFileContent& oldFile, const RegFileContent& newFile, ImportPlan& plan);

// The changes at or below keyPath (a key path with the root's long name), and the deletion of a
// key above it, which takes it too.
[[nodiscard]] ImportPlan planBelow(const ImportPlan& plan, std::string_view keyPath);

} // namespace quern
