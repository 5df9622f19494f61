#pragma once

#include "base/Status.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quern::codec {

// Value types by the names reg uses for them, and the data of reg's /d switch.

// The type a /t switch names (REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD with its alias
// REG_DWORD_LITTLE_ENDIAN, REG_QWORD, REG_BINARY, REG_NONE; any letter case); nothing for any other text.
[[nodiscard]] std::optional<std::uint32_t> typeFromName(std::string_view name);

// The name query shows for a type: REG_... for the types the registry defines, the number itself
// (0xffff0012) for any other, since that is the only name such a type has.
[[nodiscard]] std::string typeName(std::uint32_t type);

// The name the value grid's Type column shows: typeName for the types the registry defines, any
// other as 0x and all eight hex digits (0x0000000c), so that such names line up in the column.
[[nodiscard]] std::string typeColumnName(std::uint32_t type);

// Turns the text of a /d switch into the bytes the registry keeps for a value of that type:
// strings (and REG_NONE, as reg stores it) as UTF-16LE with their NUL; DWORDs and QWORDs from
// decimal or 0x-prefixed hex, little-endian; binary from hex digits, an odd count making the first
// digit a byte of its own; multi-strings split at separator, or at the two characters \0 when
// there is none. InvalidData, with the message for the user and bytes left alone, when the text
// does not fit the type.
[[nodiscard]] reg::Status encodeData(
    std::uint32_t type, std::string_view text, std::optional<char16_t> separator, std::vector<std::uint8_t>& bytes);

} // namespace quern::codec
