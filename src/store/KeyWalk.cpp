#include "store/KeyWalk.h"

#include "base/Names.h"

#include <algorithm>

namespace quern::reg {

KeyWalk::KeyWalk(RegStore& store, HKey start, std::string path, Links links, bool leaving)
    : m_store(store)
    , m_links(links)
    , m_leaving(leaving) {
    Frame first;
    first.key = start;
    first.path = std::move(path);
    KeyInfo info;
    if (m_store.queryInfo(start, info) == Status::Ok) {
        first.identity = info.identity;
        first.isLink = info.isLink;
    }
    m_frames.push_back(std::move(first));
}

KeyWalk::~KeyWalk() {
    while (!m_frames.empty())
        pop();
}

void KeyWalk::pop() {
    if (m_frames.back().owned) (void)m_store.closeKey(m_frames.back().key);
    m_frames.pop_back();
}

bool KeyWalk::onTheWay(std::uint64_t identity) const {
    return std::any_of(m_frames.begin(), m_frames.end(), [&](const Frame& f) { return f.identity == identity; })
        || std::find(m_above.begin(), m_above.end(), identity) != m_above.end();
}

bool KeyWalk::next() {
    if (m_frames.empty()) return false;
    if (!m_started) {
        m_started = true;
        return true;
    }
    m_leavingNow = false;
    m_status = Status::Ok;
    for (;;) {
        Frame& at = m_frames.back();
        const bool descend = at.key != kNoKey && !at.skip && !(m_links == Links::AsKeys && at.isLink);
        if (descend && !at.listed) {
            at.listed = true;
            std::u16string name;
            for (std::uint32_t i = 0; m_store.enumKey(at.key, i, name) == Status::Ok; ++i)
                at.subkeys.push_back(name);
            if (m_backwards) std::reverse(at.subkeys.begin(), at.subkeys.end());
        }
        if (descend && at.nextSubkey < at.subkeys.size()) {
            Frame child;
            child.name = std::move(at.subkeys[at.nextSubkey++]);
            child.path = at.path + "\\" + toUtf8(child.name);
            const unsigned options = m_links == Links::AsKeys ? kOpenLink : kOptionNone;
            m_status = m_store.openKey(at.key, child.name, Access::Read, options, child.key);
            if (m_status != Status::Ok) {
                child.key = kNoKey;
                m_frames.push_back(std::move(child));
                return true;
            }
            child.owned = true;
            KeyInfo info;
            if (m_store.queryInfo(child.key, info) == Status::Ok) {
                child.identity = info.identity;
                child.isLink = info.isLink;
            }
            const bool loops = m_links == Links::Follow && onTheWay(child.identity);
            m_frames.push_back(std::move(child));
            if (loops) {
                // A link back into the walk is met, but not entered: the walk would never end.
                (void)m_store.closeKey(m_frames.back().key);
                m_frames.back().key = kNoKey;
                m_frames.back().owned = false;
                m_status = Status::LinkLoop;
            }
            return true;
        }
        // Everything below this key has been met.
        if (m_leaving && at.key != kNoKey && !at.left) {
            at.left = true;
            m_leavingNow = true;
            return true;
        }
        pop();
        if (m_frames.empty()) return false;
    }
}

Status deleteKeyTree(RegStore& store, HKey base, std::u16string_view path) {
    {
        KeyHandle key(store);
        if (const Status status = store.openKey(base, path, Access::Read, kOpenLink, key.out()); status != Status::Ok)
            return status;
        KeyWalk walk(store, key.get(), {}, KeyWalk::Links::AsKeys, true);
        while (walk.next()) {
            if (walk.status() != Status::Ok) return walk.status();
            if (!walk.leaving() || walk.depth() == 0) continue;
            if (const Status status = store.deleteKey(walk.parentKey(), walk.name()); status != Status::Ok)
                return status;
        }
    }
    return store.deleteKey(base, path);
}

} // namespace quern::reg
