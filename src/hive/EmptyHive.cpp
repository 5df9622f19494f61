#include "codec/AtomicFile.h"
#include "hive/OfflineHive.h"

#include <cstdint>
#include <string>

namespace quern::reg {

namespace {

void put16(std::string& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<char>(v & 0xff);
    out[at + 1] = static_cast<char>(v >> 8);
}

void put32(std::string& out, std::size_t at, std::uint32_t v) {
    put16(out, at, static_cast<std::uint16_t>(v & 0xffff));
    put16(out, at + 2, static_cast<std::uint16_t>(v >> 16));
}

void put64(std::string& out, std::size_t at, std::uint64_t v) {
    put32(out, at, static_cast<std::uint32_t>(v));
    put32(out, at + 4, static_cast<std::uint32_t>(v >> 32));
}

// The base block's checksum: the XOR of its first 127 double words, never 0 or all ones.
std::uint32_t checksum(const std::string& hive) {
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < 0x1fc; at += 4)
        sum ^= static_cast<std::uint32_t>(static_cast<std::uint8_t>(hive[at]))
            | static_cast<std::uint32_t>(static_cast<std::uint8_t>(hive[at + 1])) << 8
            | static_cast<std::uint32_t>(static_cast<std::uint8_t>(hive[at + 2])) << 16
            | static_cast<std::uint32_t>(static_cast<std::uint8_t>(hive[at + 3])) << 24;
    if (sum == 0xffffffffu) return 0xfffffffeu;
    if (sum == 0) return 1;
    return sum;
}

} // namespace

Status writeEmptyHive(const std::string& path) {
    constexpr std::size_t kBin = 0x1000;
    constexpr std::uint32_t kRootCell = 0x20; // from the first bin
    constexpr std::uint32_t kSecurityCell = 0x80;
    const std::uint64_t now = fileTimeNow();
    std::string hive(2 * kBin, '\0');
    // Base block: version 1.5, one bin of data, the root key's cell.
    hive.replace(0, 4, "regf");
    put32(hive, 0x04, 1);
    put32(hive, 0x08, 1);
    put64(hive, 0x0c, now);
    put32(hive, 0x14, 1);
    put32(hive, 0x18, 5);
    put32(hive, 0x20, 1);
    put32(hive, 0x24, kRootCell);
    put32(hive, 0x28, kBin);
    put32(hive, 0x2c, 1);
    put32(hive, 0x1fc, checksum(hive));

    hive.replace(kBin, 4, "hbin");
    put32(hive, kBin + 0x08, kBin);
    put64(hive, kBin + 0x14, now);

    // The root key: a hive's entry that cannot be deleted, named ROOT in one byte a character.
    const std::size_t nk = kBin + kRootCell;
    put32(hive, nk, static_cast<std::uint32_t>(-0x60));
    hive.replace(nk + 4, 2, "nk");
    put16(hive, nk + 6, 0x2c);
    put64(hive, nk + 8, now);
    put32(hive, nk + 0x20, 0xffffffffu); // no subkey list
    put32(hive, nk + 0x24, 0xffffffffu);
    put32(hive, nk + 0x2c, 0xffffffffu); // no value list
    put32(hive, nk + 0x30, kSecurityCell);
    put32(hive, nk + 0x34, 0xffffffffu); // no class
    put16(hive, nk + 0x4c, 4);
    hive.replace(nk + 0x50, 4, "ROOT");

    // Its security: a self-relative descriptor without a DACL, which every key added inherits.
    const std::size_t sk = kBin + kSecurityCell;
    put32(hive, sk, static_cast<std::uint32_t>(-0x30));
    hive.replace(sk + 4, 2, "sk");
    put32(hive, sk + 8, kSecurityCell);
    put32(hive, sk + 12, kSecurityCell);
    put32(hive, sk + 16, 1);
    put32(hive, sk + 20, 20);
    hive[sk + 24] = 1; // revision
    put16(hive, sk + 26, 0x8000); // self-relative

    // The rest of the bin is one free cell.
    put32(hive, kBin + 0xb0, static_cast<std::uint32_t>(kBin - 0xb0));
    return AtomicFile::writeWhole(path, hive);
}

} // namespace quern::reg
