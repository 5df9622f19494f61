#pragma once

#include "base/RegTypes.h"
#include "base/Status.h"
#include "import/RegImport.h"
#include "store/KeyWalk.h"
#include "store/RegStore.h"

#include <cstddef>
#include <string>
#include <vector>

namespace quern {

// A key (or some of its values) as a copy writes it, read whole before anything is written: the
// copy then cannot see its own writes, every question is asked before the first change, and the
// source may be in another registry. Links are kept as links, never followed: following one could
// copy half the registry, or loop.
struct CopyNode {
    std::u16string name;
    bool isLink = false;
    std::vector<reg::RawValue> values;
    std::vector<CopyNode> children;
};

// Reads key, with its subkeys when recurse, into root (whose name the caller sets); the depth of
// the tree read, the key itself counting one.
std::size_t readCopySource(reg::RegStore& store, reg::HKey key, CopyNode& root, bool recurse);

// What writing node into target (kNoKey where that key is not there yet), named targetPath, would
// change: keys and values added and values changed, as an import lists them. A copy deletes
// nothing, so nothing is listed as deleted.
[[nodiscard]] ImportPlan planCopy(
    reg::RegStore& store, reg::HKey target, const CopyNode& node, const std::string& targetPath);

// The first key of node that is a link where the target's key of that name is not, or the reverse,
// as the sentence that says so; empty when there is none. A copy would have to change what the
// key is, which it does not.
[[nodiscard]] std::string linkMismatch(
    reg::RegStore& store, reg::HKey target, const CopyNode& node, const std::string& targetPath);

// Writes node's values into target and its children below it (links made as links). The first
// failure, naming the key or value; the caller's batch then takes back what was written.
reg::Status writeCopy(reg::RegStore& store, reg::HKey target, const CopyNode& node, const std::string& targetPath);

// The root a full path begins with (its long name, HKEY_CURRENT_USER) and the path below it;
// false when it begins with none of the six.
bool splitRootPath(std::string_view path, reg::HKey& root, std::u16string& below);

// Opens the key at a full path (the root's long name first, HKEY_CURRENT_USER\Software) of store;
// with kOpenLink in options a link at the end opens as itself. NotFound for an unknown root.
reg::Status openKeyAtPath(
    reg::RegStore& store, const std::string& path, reg::Access access, unsigned options, reg::KeyHandle& key);

// A name for a key pasted below parent where name is taken: "name (2)", "name (3)", ...
[[nodiscard]] std::u16string freeKeyName(reg::RegStore& store, reg::HKey parent, const std::u16string& name);

} // namespace quern
