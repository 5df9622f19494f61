#pragma once

#include "store/RegTree.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quern::reg {

// The text files in which wineserver keeps a prefix's registry ("WINE REGISTRY Version 2"):
// reading one into a tree of keys, and writing a tree back so that every key that did not change
// keeps the bytes it had.

inline constexpr std::string_view kRegFileMagic = "WINE REGISTRY Version 2";

struct LoadProblem {
    std::size_t line = 0; // 1-based
    std::string what;
};

struct ParsedFile {
    bool isRegistryFile = false;
    std::string error; // why the file is not a registry file
    std::string relativeTo; // the header's path as written, e.g. REGISTRY\\User\\S-1-5-21-0-0-0-1000
    std::uint64_t prefixLength = 0; // the header lines, up to the end of the last line before the first block
    std::size_t blockCount = 0;
    std::size_t valueCount = 0;
    std::vector<LoadProblem> problems; // lines kept unread
    std::string arch; // what its #arch line says, win32 or win64; empty without one
    // Set: the file is read, but must not be written, and why: Wine would not read what Quern
    // wrote as it reads the file now.
    std::string writeRefused;
};

// Reads a file's text into root, which must have no subkeys and no values yet, line by line as
// wineserver reads it. A line wineserver cannot read, or reads as nothing, is kept as it is in its
// key (and a block whose key line it cannot read, in root) and, unless it is a comment or an
// option, listed in problems; a text that is not a registry file leaves root untouched and says why.
// prefixArch is the architecture the prefix has from the file wineserver reads first (system.reg),
// which an #arch line of this file must repeat, or wineserver stops reading it there.
[[nodiscard]] ParsedFile parseRegFile(std::string_view content, Key& root, std::string_view prefixArch = {});

// What one block read on its own gave: where it stands (from its key line to the end of its last
// line), the lines it kept that wineserver cannot read (numbered from its key line, which is 1),
// and whether its last line's hex data runs on past the end of the text.
struct BlockRead {
    bool keyLine = false; // false: no key line stands where the block should start
    // The block's text holds a NUL byte: in a file indexed without one, a sign it was cut short.
    bool hasNul = false;
    SourceRange source;
    std::vector<LoadProblem> problems;
    bool cutShort = false;
};

// Reads the block whose key line starts at offset into key (made empty, below a parent that has
// its time), as the whole file's reader would: its time, class, link mark, values and the lines
// Quern keeps, up to the end of content, which must end where the next key line starts.
[[nodiscard]] BlockRead parseRegBlock(std::string_view content, std::size_t offset, Key& key);

// A key path as wineserver splits it: empty parts (from leading, doubled or trailing backslashes)
// are skipped, and a path whose first unit is NUL names the hive's own key. Parts longer than
// wineserver allows, and paths deeper than the registry allows, cannot be read.
[[nodiscard]] bool splitKeyPath(std::u16string_view path, std::vector<std::u16string_view>& parts);

// For a file whose keys are read on first use: where the blocks of the keys below a key that are
// still only in the file stand in it (Key::subkeysInFile), to be copied as they are.
class BlocksInFile {
public:
    virtual ~BlocksInFile() = default;
    struct Range {
        SourceRange range; // from the first block's key line to the end of the last block
        bool cutShort = false; // the last block's hex data runs on past the end of the file
    };
    [[nodiscard]] virtual Range blocksBelow(const Key& key) const = 0;
};

// Where a key's block (below: the blocks of the keys below it still in the file) landed.
struct BlockPlacement {
    Key* key = nullptr;
    SourceRange range;
    bool below = false;
};

// Writes the tree under root as a registry file into out. The header is copied from original
// when there is one (prefixLength bytes), else made for relativeTo. A key that is not dirty and
// has a block in original is copied byte for byte; every other key that needs a block gets one
// written anew, with the lines it kept. placements tells where each block landed, for the caller
// to record once the file is safely on disk. Returns the length of the header in out, the
// prefixLength for the next write from out.
std::uint64_t serializeRegFile(const Key& root, std::string_view original, std::uint64_t prefixLength,
    std::string_view relativeTo, std::string& out, std::vector<BlockPlacement>& placements,
    const BlocksInFile* inFile = nullptr);

// The text a file had when it was last read or written, from which unchanged blocks are copied.
// A large file need not be in memory: the store reads it from disk a window at a time.
class RegFileOriginal {
public:
    virtual ~RegFileOriginal() = default;
    [[nodiscard]] virtual std::uint64_t size() const = 0;
    // The bytes at [offset, offset + length), valid until the next call; nothing when they cannot be read.
    virtual std::optional<std::string_view> read(std::uint64_t offset, std::uint64_t length) = 0;
};

// Receives a file's new text a piece at a time; false stops the write.
using RegFileSink = std::function<bool(std::string_view)>;

// How much of a file's new text is gathered before it goes to the sink.
inline constexpr std::size_t kRegFileWriteBuffer = std::size_t(1) << 20;

// serializeRegFile, streamed: the text goes to sink in pieces of about bufferSize, so that a large
// file is never whole in memory; the placements are the same. False when the original could not be
// read or the sink refused a piece. headerLength and length get the lengths of the header and the text.
[[nodiscard]] bool serializeRegFile(const Key& root, RegFileOriginal& original, std::uint64_t prefixLength,
    std::string_view relativeTo, const RegFileSink& sink, std::vector<BlockPlacement>& placements,
    std::uint64_t& headerLength, std::uint64_t& length, std::size_t bufferSize = kRegFileWriteBuffer,
    const BlocksInFile* inFile = nullptr);

// One block as wineserver writes it, without the empty line before it; the lines the key kept
// stand between its options and its values.
void appendKeyBlock(std::string& out, const Key& key, const Key& root);

// Escapes text as wineserver does; quotes are the two characters escaped besides the backslash.
// A NUL that ends the text is left out when dropFinalNul is set (the terminator of string data).
void appendEscaped(std::string& out, std::u16string_view text, std::string_view quotes, bool dropFinalNul);

// Reads escaped text from line at pos up to the unescaped end character, which it passes over, as
// wineserver reads it: bytes that are not UTF-8 are dropped. False when the end is missing.
[[nodiscard]] bool parseEscaped(std::string_view line, std::size_t& pos, char end, std::u16string& out);

} // namespace quern::reg
