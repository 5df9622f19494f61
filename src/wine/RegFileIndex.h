#pragma once

#include "base/Status.h"
#include "wine/WineRegFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace quern::reg {

class KeyArena;

// A Wine registry file read on first use. One pass over its text finds where each block starts and
// how far its key's path agrees with the block before; since wineserver writes the blocks in tree
// order, the blocks of a key and of every key below it stand together, and a key's subkeys are
// made, each with its own block read, only when they are first asked for. The text is the file as
// it was read, or as it was last written, mapped: nothing of it is copied.
class RegFileIndex final : public BlocksInFile {
public:
    // Indexes a file's text; null when its key lines are not as wineserver writes them (out of the
    // registry's order, a key twice or spelled two ways, a key line that cannot be read or may be
    // read as data of the line before it, an indented key line, a NUL byte anywhere, no key at all):
    // such a file is read whole. header gets what the lines before the first key say, as the
    // whole file's reader tells it; the index is null too when it says the file is not to be read
    // on (no registry file, an architecture other than the prefix's). alongside, when given, is
    // called with each part of the text that a thread of the pass read, on that thread, for other
    // work over the same bytes while they are at hand (the file's hash); the parts split the text
    // on a megabyte's bound.
    static std::unique_ptr<RegFileIndex> build(std::string_view text, std::string_view prefixArch, ParsedFile& header,
        const std::function<void(std::size_t from, std::size_t to)>& alongside = {});

    [[nodiscard]] std::size_t blockCount() const { return m_blocks.size(); }
    // The text the blocks stand in: the file as last read or written.
    void setText(std::string_view text) { m_text = text; }

    // Makes root, a hive's root with no subkeys yet, read its subkeys from here.
    void prepareRoot(Key& root) const;
    // The subkeys of key (whose subkeysInFile is set), in the registry's order, each with its own
    // block read, made in arena. Lines they keep that wineserver cannot read are added to
    // problems, numbered as lines of the file. ChangedOnDisk when the text is no longer the one
    // indexed (a file written in place). bytesRead grows by the length of the blocks read.
    Status readSubkeys(const Key& key, KeyArena& arena, std::vector<std::unique_ptr<Key>>& subkeys,
        std::vector<LoadProblem>& problems, std::size_t& bytesRead) const;
    // The values of key's own block (one whose values it serves from here), read into into.
    // ChangedOnDisk when the block is not where the key found it.
    Status readValues(const Key& key, Key& into) const;
    [[nodiscard]] Range blocksBelow(const Key& key) const override;
    // After a write: the blocks below key, copied as they were, now start at offset. False when
    // the file has grown past what the index can count.
    bool moveBlocksBelow(const Key& key, std::uint64_t offset);

private:
    struct Block {
        std::uint32_t offset; // of its key line
        std::uint16_t depth; // of its key below the hive's root
        std::uint16_t shared; // how many parts of its path the block before has as well
    };
    RegFileIndex() = default;
    // From this size on, the pass reads the file's two halves at once.
    static constexpr std::size_t kTwoHalves = std::size_t(8) << 20;
    static bool scan(std::string_view text, std::size_t from, std::size_t to, std::vector<Block>& blocks);
    // Where the blocks below key start; end is key.fileBlockEnd.
    [[nodiscard]] std::size_t firstBelow(const Key& key, std::size_t depth) const;
    // Where the block's text ends: where the next key line starts, or the end of the text.
    [[nodiscard]] std::size_t limitOf(std::size_t block) const;
    [[nodiscard]] std::size_t limitAt(std::size_t offset) const;
    // The time wineserver gives a key that has no block: that of the first block below it.
    [[nodiscard]] std::uint64_t timeOf(std::size_t block) const;
    [[nodiscard]] std::size_t lineOf(std::size_t offset) const;

    std::string_view m_text;
    std::vector<Block> m_blocks;
};

} // namespace quern::reg
