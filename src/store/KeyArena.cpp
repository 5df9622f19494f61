#include "store/KeyArena.h"

#include "store/RegTree.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#define QUERN_KEYS_FROM_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUERN_KEYS_FROM_HEAP 1
#endif
#endif

namespace quern::reg {

namespace {
constexpr std::size_t kChunkSize = std::size_t { 2 } << 20;
constexpr std::size_t kBlock
    = (sizeof(Key) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) * alignof(std::max_align_t);
} // namespace

// At the start of each chunk, which is aligned to its size: a key finds its chunk by its address.
struct KeyArena::Chunk {
    std::size_t live = 0; // keys made here and not deleted yet
    bool abandoned = false; // the arena makes no more keys here
};

#ifndef QUERN_KEYS_FROM_HEAP
namespace {
void* mapChunk() {
    // Twice the size is mapped so that an aligned chunk lies inside; the rest is given back.
    void* mapped = ::mmap(nullptr, 2 * kChunkSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kChunkSize - 1) & ~(kChunkSize - 1);
    if (aligned > start) ::munmap(mapped, aligned - start);
    if (const std::uintptr_t end = start + 2 * kChunkSize; end > aligned + kChunkSize)
        ::munmap(reinterpret_cast<void*>(aligned + kChunkSize), end - aligned - kChunkSize);
    auto* chunk = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    (void)::madvise(chunk, kChunkSize, MADV_HUGEPAGE);
#endif
    return chunk;
}
} // namespace
#endif

KeyArena::~KeyArena() {
    if (!m_chunk) return;
    m_chunk->abandoned = true;
    if (m_chunk->live == 0) ::munmap(m_chunk, kChunkSize);
}

std::unique_ptr<Key> KeyArena::make(std::u16string_view name, Key* parent, Hive* hive) {
#ifdef QUERN_KEYS_FROM_HEAP
    return std::make_unique<Key>(std::u16string(name), parent, hive);
#else
    // The header takes the first blocks.
    constexpr std::size_t kFirstBlock = (sizeof(Chunk) + kBlock - 1) / kBlock * kBlock;
    if (!m_chunk || m_used + kBlock > kChunkSize) {
        void* memory = mapChunk();
        if (!memory) return std::make_unique<Key>(std::u16string(name), parent, hive);
        if (m_chunk) {
            m_chunk->abandoned = true;
            if (m_chunk->live == 0) ::munmap(m_chunk, kChunkSize);
        }
        m_chunk = new (memory) Chunk;
        m_used = kFirstBlock;
    }
    void* block = reinterpret_cast<char*>(m_chunk) + m_used;
    auto key = std::unique_ptr<Key>(new (block) Key(std::u16string(name), parent, hive));
    key->inArena = true;
    m_used += kBlock;
    ++m_chunk->live;
    return key;
#endif
}

void KeyArena::release(void* key) {
    auto* chunk = reinterpret_cast<Chunk*>(reinterpret_cast<std::uintptr_t>(key) & ~(kChunkSize - 1));
    if (--chunk->live == 0 && chunk->abandoned) ::munmap(chunk, kChunkSize);
}

} // namespace quern::reg
