#pragma once

#include "store/RegStore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quern::reg {

// An open key that closes itself: on every path out of a scope, exceptions included.
class KeyHandle {
public:
    explicit KeyHandle(RegStore& store, HKey key = kNoKey)
        : m_store(&store)
        , m_key(key) { }
    KeyHandle(KeyHandle&& other) noexcept
        : m_store(other.m_store)
        , m_key(other.release()) { }
    KeyHandle& operator=(KeyHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~KeyHandle() { reset(); }

    // The handle to fill, for the store's open and create calls; any key held before is closed.
    HKey& out() {
        reset();
        return m_key;
    }
    [[nodiscard]] HKey get() const { return m_key; }
    HKey release() {
        const HKey key = m_key;
        m_key = kNoKey;
        return key;
    }
    void reset(HKey key = kNoKey) {
        if (m_key != kNoKey && !isPredefined(m_key)) (void)m_store->closeKey(m_key);
        m_key = key;
    }

private:
    RegStore* m_store;
    HKey m_key;
};

// Deletes the key at path below base with everything below it, deepest first, each key as
// itself: a link goes as a link, and what it points to stays. Stops at the first key that cannot
// be opened or deleted and returns why; inside a batch the caller can then abandon the whole.
Status deleteKeyTree(RegStore& store, HKey base, std::u16string_view path);

// A walk over a key and everything below it, depth first, one key at a time, so that a caller can
// stop between two keys, yield to the window, or leave a subtree out. The subkeys of a key are
// listed once, when the walk first goes below it, so keys added or deleted meanwhile do not
// disturb it. Every key the walk opens is closed again, whatever happens, when the walk moves past
// it or ends.
//
// Links: with Links::Follow a link key opens as the key it points to, and a key that a link leads
// back to while the walk is already inside it is passed over, so the walk always ends. With
// Links::AsKeys a link is visited as itself and never gone below: for copying and deleting, where
// following it would reach another part of the registry.
class KeyWalk {
public:
    enum class Links { Follow, AsKeys };

    // The walk starts at start, an open key or root that stays the caller's, named by path (the
    // paths of the keys below it are path, a backslash and their names). With leaving, each key
    // is met a second time after everything below it, as a delete needs.
    KeyWalk(RegStore& store, HKey start, std::string path, Links links = Links::Follow, bool leaving = false);
    ~KeyWalk();
    KeyWalk(const KeyWalk&) = delete;
    KeyWalk& operator=(const KeyWalk&) = delete;

    // Moves to the next key: the start first, then each subkey and everything below it in turn,
    // in the registry's order. False once the walk is over. A subkey that cannot be opened is met
    // too, with its status, no handle and nothing below it; so is a link that leads back to a key
    // the walk is inside, with the status LinkLoop.
    bool next();

    // The key the walk is at, open for reading; kNoKey where it could not be opened.
    [[nodiscard]] HKey key() const { return m_frames.back().key; }
    // Why the key could not be opened; Ok where it could.
    [[nodiscard]] Status status() const { return m_status; }
    // The key's path, its name (empty for the start) and how far below the start it is (0).
    [[nodiscard]] const std::string& path() const { return m_frames.back().path; }
    [[nodiscard]] const std::u16string& name() const { return m_frames.back().name; }
    [[nodiscard]] std::size_t depth() const { return m_frames.size() - 1; }
    // The open key above this one (the start's own parent is not known: kNoKey).
    [[nodiscard]] HKey parentKey() const { return m_frames.size() > 1 ? m_frames[m_frames.size() - 2].key : kNoKey; }
    [[nodiscard]] bool isLink() const { return m_frames.back().isLink; }
    // What tells this key from every other, however it was reached (KeyInfo::identity).
    [[nodiscard]] std::uint64_t identity() const { return m_frames.back().identity; }
    // True when this is the second meeting with the key, after everything below it.
    [[nodiscard]] bool leaving() const { return m_leavingNow; }

    // Leaves out what is below the key the walk is at.
    void skipSubkeys() { m_frames.back().skip = true; }
    // Counts a key outside the walk as one it is inside: a walk that starts below a link would
    // otherwise go round the loop once more through the keys above its start.
    void addAbove(std::uint64_t identity) { m_above.push_back(identity); }
    // Goes through each key's subkeys last to first, set before the first next(). With leaving,
    // the keys' second meetings then come in the exact reverse of a forward walk's first ones: what
    // a search backwards needs.
    void goBackwards() { m_backwards = true; }

private:
    struct Frame {
        HKey key = kNoKey;
        bool owned = false;
        std::string path;
        std::u16string name;
        std::uint64_t identity = 0;
        bool isLink = false;
        bool listed = false;
        bool skip = false;
        bool left = false;
        std::vector<std::u16string> subkeys;
        std::size_t nextSubkey = 0;
    };

    void pop();
    bool onTheWay(std::uint64_t identity) const;

    RegStore& m_store;
    Links m_links;
    bool m_leaving;
    bool m_backwards = false;
    bool m_started = false;
    bool m_leavingNow = false;
    Status m_status = Status::Ok;
    std::vector<Frame> m_frames;
    std::vector<std::uint64_t> m_above;
};

} // namespace quern::reg
