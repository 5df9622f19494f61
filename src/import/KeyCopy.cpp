#include "import/KeyCopy.h"

#include "base/Names.h"
#include "registry/RegU.h"
#include "store/KeyWalk.h"

#include <algorithm>

namespace quern {

namespace {

std::string childPath(const std::string& path, const std::u16string& name) {
    return path + "\\" + reg::toUtf8(name);
}

std::string valueWhat(const std::string& path, const std::u16string& name) {
    return "the value \"" + (name.empty() ? std::string("(Default)") : reg::toUtf8(name)) + "\" of " + path;
}

} // namespace

std::size_t readCopySource(reg::RegStore& store, reg::HKey key, CopyNode& root, bool recurse) {
    std::vector<CopyNode*> chain; // the nodes from the root down to the key the walk is at
    std::size_t depth = 0;
    reg::KeyWalk walk(store, key, {}, reg::KeyWalk::Links::AsKeys);
    while (walk.next()) {
        if (walk.status() != reg::Status::Ok) continue;
        chain.resize(walk.depth());
        CopyNode* node = &root;
        if (walk.depth() > 0) {
            chain.back()->children.push_back({ walk.name(), walk.isLink(), {}, {} });
            node = &chain.back()->children.back();
        }
        chain.push_back(node);
        reg::RawValue value;
        for (std::uint32_t i = 0; store.enumValue(walk.key(), i, value.name, &value.type, &value.data).ok(); ++i)
            node->values.push_back(value);
        depth = std::max(depth, walk.depth() + 1);
        if (!recurse) walk.skipSubkeys();
    }
    return depth;
}

ImportPlan planCopy(reg::RegStore& store, reg::HKey target, const CopyNode& node, const std::string& targetPath) {
    ImportPlan plan;
    // Depth first, as the file of the same copy would list it.
    struct Step {
        reg::HKey key;
        const CopyNode* node;
        std::string path;
    };
    std::vector<reg::KeyHandle> opened;
    std::vector<Step> pending { { target, &node, targetPath } };
    while (!pending.empty()) {
        const Step step = pending.back();
        pending.pop_back();
        if (step.key == reg::kNoKey) plan.add({ RegChange::Kind::KeyAdded, step.path, {}, 0, {}, 0, {}, 0 });
        for (const reg::RawValue& value : step.node->values) {
            RegChange change { RegChange::Kind::ValueAdded, step.path, value.name, 0, {}, value.type, value.data, 0 };
            if (step.key != reg::kNoKey
                && store.queryValue(step.key, value.name, change.oldType, change.oldData).ok()) {
                if (change.oldType == value.type && change.oldData == value.data) continue;
                change.kind = RegChange::Kind::ValueChanged;
            }
            plan.add(std::move(change));
        }
        for (auto child = step.node->children.rbegin(); child != step.node->children.rend(); ++child) {
            reg::HKey childKey = reg::kNoKey;
            if (step.key != reg::kNoKey) {
                opened.emplace_back(store);
                if (store.openKey(step.key, child->name, reg::Access::Read, reg::kOpenLink, opened.back().out()).ok())
                    childKey = opened.back().get();
            }
            pending.push_back({ childKey, &*child, childPath(step.path, child->name) });
        }
    }
    return plan;
}

std::string linkMismatch(reg::RegStore& store, reg::HKey target, const CopyNode& node, const std::string& targetPath) {
    if (target == reg::kNoKey) return {};
    for (const CopyNode& child : node.children) {
        reg::KeyHandle sub(store);
        if (!store.openKey(target, child.name, reg::Access::Read, reg::kOpenLink, sub.out()).ok()) continue;
        reg::KeyInfo info;
        const std::string path = childPath(targetPath, child.name);
        if (store.queryInfo(sub.get(), info).ok() && info.isLink != child.isLink)
            return path
                + (info.isLink ? " is a link key and the key copied onto it is not."
                               : " is not a link key and the key copied onto it is one.");
        if (std::string below = linkMismatch(store, sub.get(), child, path); !below.empty()) return below;
    }
    return {};
}

reg::Status writeCopy(reg::RegStore& store, reg::HKey target, const CopyNode& node, const std::string& targetPath) {
    for (const reg::RawValue& value : node.values) {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        // What is there already is not written again: that would only move the key's write time.
        if (store.queryValue(target, value.name, type, data).ok() && type == value.type && data == value.data) continue;
        if (reg::Status set = store.setValue(target, value.name, value.type, value.data); !set.ok())
            return { set.code(), "Cannot set " + valueWhat(targetPath, value.name) + ": " + set.message() };
    }
    for (const CopyNode& child : node.children) {
        const std::string path = childPath(targetPath, child.name);
        reg::KeyHandle sub(store);
        const unsigned options = child.isLink ? reg::kCreateLink | reg::kOpenLink : reg::kOpenLink;
        if (reg::Status made = store.createKey(target, child.name, reg::Access::Full, options, sub.out()); !made.ok())
            return { made.code(), "Cannot create " + path + ": " + made.message() };
        if (reg::Status below = writeCopy(store, sub.get(), child, path); !below.ok()) return below;
    }
    return reg::Status::Ok;
}

bool splitRootPath(std::string_view path, reg::HKey& root, std::u16string& below) {
    const std::size_t slash = path.find('\\');
    for (const RootKey& known : kRootKeys)
        if (known.name == path.substr(0, slash)) {
            root = known.handle;
            below = slash == std::string_view::npos ? std::u16string() : reg::toUtf16(path.substr(slash + 1));
            return true;
        }
    return false;
}

reg::Status openKeyAtPath(
    reg::RegStore& store, const std::string& path, reg::Access access, unsigned options, reg::KeyHandle& key) {
    reg::HKey root = reg::kNoKey;
    std::u16string below;
    if (!splitRootPath(path, root, below))
        return { reg::Status::NotFound, "There is no root key " + path.substr(0, path.find('\\')) + "." };
    return store.openKey(root, below, access, options, key.out());
}

std::u16string freeKeyName(reg::RegStore& store, reg::HKey parent, const std::u16string& name) {
    for (int n = 2;; ++n) {
        const std::u16string candidate = name + u" (" + reg::toUtf16(std::to_string(n)) + u")";
        reg::KeyHandle probe(store);
        if (!store.openKey(parent, candidate, reg::Access::Read, reg::kOpenLink, probe.out()).ok()) return candidate;
    }
}

} // namespace quern
