#pragma once

#include "base/Status.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quern::reg {

// A key handle, as the system's registry API hands them out: the predefined roots carry their
// fixed values, open keys get small numbers from the store.
using HKey = std::uint32_t;

inline constexpr HKey kNoKey = 0;
inline constexpr HKey kClassesRoot = 0x80000000u;
inline constexpr HKey kCurrentUser = 0x80000001u;
inline constexpr HKey kLocalMachine = 0x80000002u;
inline constexpr HKey kUsers = 0x80000003u;
inline constexpr HKey kPerformanceData = 0x80000004u; // has no root here
inline constexpr HKey kCurrentConfig = 0x80000005u;
inline constexpr HKey kDynData = 0x80000006u;

[[nodiscard]] constexpr bool isPredefined(HKey key) {
    return key >= 0x80000000u && key <= 0x80000006u;
}

// Value types as the registry numbers them. Any other 32-bit number is a valid type too and is kept as is.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegDwordBigEndian = 5;
inline constexpr std::uint32_t kRegLink = 6;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

[[nodiscard]] constexpr bool isStringType(std::uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

enum class Access { Read, Full };

// Options of open and create, after the system's REG_OPTION_OPEN_LINK and REG_OPTION_CREATE_LINK.
enum KeyOption : unsigned {
    kOptionNone = 0,
    kOpenLink = 1, // the last component is opened as the link key itself, not followed
    kCreateLink = 2, // a created key becomes a link key (its target is its SymbolicLinkValue)
};

struct KeyInfo {
    std::uint32_t subkeyCount = 0;
    std::uint32_t valueCount = 0;
    std::uint32_t maxSubkeyNameLength = 0; // in UTF-16 units
    std::uint32_t maxValueNameLength = 0; // in UTF-16 units
    std::uint32_t maxValueDataLength = 0; // in bytes
    std::uint64_t lastWriteTime = 0; // FILETIME: 100 ns units since 1601
    std::u16string className;
    bool isLink = false;
    // Identifies the key for as long as it exists, whatever handle or path reached it, so that
    // a walk can tell when a link leads back to a key it is already inside.
    std::uint64_t identity = 0;
};

struct RawValue {
    std::u16string name;
    std::uint32_t type = kRegNone;
    std::vector<std::uint8_t> data;

    friend bool operator==(const RawValue&, const RawValue&) = default;
};

} // namespace quern::reg
