#pragma once

#include <memory>
#include <string_view>

namespace quern::reg {

class Key;
struct Hive;

// Memory for the many keys of one tree read from a file (a hive of a hundred thousand keys), taken
// from the system in chunks of 2 MB that it may back with huge pages: a key costs a bump of a
// pointer instead of a call to malloc, and a chunk a fault or two instead of one per 4 KB page.
//
// A key made here is an ordinary key owned through std::unique_ptr: deleting it gives its memory
// back to its chunk, and a chunk goes when its last key and the arena have. So keys may outlive
// the arena (the undo history keeps removed keys), and a key removed from the tree is not reused
// until its whole chunk goes. Like the keys themselves, an arena and its keys belong to one thread.
// Under AddressSanitizer keys come from the heap, so that a use after free is still caught.
class KeyArena {
public:
    KeyArena() = default;
    ~KeyArena();
    KeyArena(const KeyArena&) = delete;
    KeyArena& operator=(const KeyArena&) = delete;

    [[nodiscard]] std::unique_ptr<Key> make(std::u16string_view name, Key* parent, Hive* hive);

    // For Key's operator delete: the memory of a key made here, once it was destroyed.
    static void release(void* key);

private:
    struct Chunk;
    Chunk* m_chunk = nullptr; // the one keys are made in now
    std::size_t m_used = 0; // bytes of it given out, its header included
};

} // namespace quern::reg
