#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// Offsets and flags of the Windows hive format that both the reader and the writer of hive files
// use. Cells are addressed from the start of the file; a cell's record follows its 4-byte size
// (negative while the cell is in use), and the offset of a cell as records hold it counts from the
// first bin.
namespace quern::reg::hiveformat {

// The base block.
inline constexpr std::size_t kBinsStart = 0x1000;
inline constexpr std::size_t kSequence1 = 0x04;
inline constexpr std::size_t kSequence2 = 0x08;
inline constexpr std::size_t kMajorVersion = 0x14;
inline constexpr std::size_t kMinorVersion = 0x18;
// 0 in a hive itself; a log file beside it (.LOG1, .LOG2) has the same header with another type.
inline constexpr std::size_t kFileType = 0x1c;
inline constexpr std::size_t kRootCell = 0x24;
inline constexpr std::size_t kBinsSize = 0x28;
inline constexpr std::size_t kChecksum = 0x1fc;

// A bin: "hbin", its own offset from the first bin, its size (a multiple of 4 KiB), and its cells
// from kBinHeader on, one after the other.
inline constexpr std::size_t kBinOffset = 0x04;
inline constexpr std::size_t kBinSize = 0x08;
inline constexpr std::size_t kBinHeader = 0x20;

inline constexpr std::size_t kCellHeader = 4;

// A key's record ("nk").
inline constexpr std::size_t kNkFlags = 0x02;
inline constexpr std::size_t kNkTime = 0x04;
inline constexpr std::size_t kNkParent = 0x10;
inline constexpr std::size_t kNkSubkeyCount = 0x14;
inline constexpr std::size_t kNkSubkeyList = 0x1c;
inline constexpr std::size_t kNkValueCount = 0x24;
inline constexpr std::size_t kNkValueList = 0x28;
inline constexpr std::size_t kNkSecurity = 0x2c;
inline constexpr std::size_t kNkClass = 0x30;
inline constexpr std::size_t kNkMaxClassLength = 0x38;
inline constexpr std::size_t kNkMaxDataLength = 0x40;
inline constexpr std::size_t kNkNameLength = 0x48;
inline constexpr std::size_t kNkClassLength = 0x4a;
inline constexpr std::size_t kNkName = 0x4c;
inline constexpr std::uint16_t kNkLink = 0x10;
inline constexpr std::uint16_t kNkCompressedName = 0x20;

// A security record ("sk"), shared by the keys that count in it and chained to the others.
inline constexpr std::size_t kSkNext = 0x04;
inline constexpr std::size_t kSkPrevious = 0x08;
inline constexpr std::size_t kSkDescriptor = 0x14;

// A value's record ("vk").
inline constexpr std::size_t kVkNameLength = 0x02;
inline constexpr std::size_t kVkDataLength = 0x04;
inline constexpr std::size_t kVkData = 0x08;
inline constexpr std::size_t kVkType = 0x0c;
inline constexpr std::size_t kVkFlags = 0x10;
inline constexpr std::size_t kVkName = 0x14;
inline constexpr std::uint16_t kVkCompressedName = 0x01;
// Set in the data length: the data (up to four bytes) stands in the record itself.
inline constexpr std::uint32_t kInlineData = 0x80000000u;

// Little-endian fields of the file, read in place: hive files are little-endian as this machine is.
static_assert(std::endian::native == std::endian::little);

template<typename T> inline T field(std::string_view bytes, std::size_t at) {
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

inline std::uint16_t le16(std::string_view bytes, std::size_t at) {
    return field<std::uint16_t>(bytes, at);
}

inline std::uint32_t le32(std::string_view bytes, std::size_t at) {
    return field<std::uint32_t>(bytes, at);
}

inline std::uint64_t le64(std::string_view bytes, std::size_t at) {
    return field<std::uint64_t>(bytes, at);
}

} // namespace quern::reg::hiveformat
