#pragma once

#include <cstdint>
#include <iosfwd>
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

enum class StatusCode {
    Ok,
    NotFound, // no such key or value
    AccessDenied, // the registry (or this part of it) is read-only, or the key is not open for writing
    HasSubkeys, // a key with subkeys cannot be deleted by itself
    InvalidHandle, // not an open handle
    KeyDeleted, // the handle's key was deleted since it was opened
    NoMoreItems, // enumeration index past the end
    BadPath, // an empty path component or a name the registry does not allow
    LinkLoop, // a chain of link keys loops or runs longer than the store follows
    ChangedOnDisk, // the file was changed by someone else since it was read; nothing was written
    WriteFailed, // the file could not be written; nothing was changed
};

// The code's plain sentence for the user ("Not found."), for a status the store gave no words of its own.
[[nodiscard]] std::string_view statusText(StatusCode code);
// For test failure output.
void PrintTo(StatusCode code, std::ostream* out);

// The result of a store call: its code, and where the store knows more (which file, which
// process, what the system said), the sentence that tells the user. It travels with the result, so
// a caller never reads a reason left behind by an earlier call.
class Status {
public:
    // The codes under the type's own name, so that callers write Status::NotFound.
    static constexpr StatusCode Ok = StatusCode::Ok;
    static constexpr StatusCode NotFound = StatusCode::NotFound;
    static constexpr StatusCode AccessDenied = StatusCode::AccessDenied;
    static constexpr StatusCode HasSubkeys = StatusCode::HasSubkeys;
    static constexpr StatusCode InvalidHandle = StatusCode::InvalidHandle;
    static constexpr StatusCode KeyDeleted = StatusCode::KeyDeleted;
    static constexpr StatusCode NoMoreItems = StatusCode::NoMoreItems;
    static constexpr StatusCode BadPath = StatusCode::BadPath;
    static constexpr StatusCode LinkLoop = StatusCode::LinkLoop;
    static constexpr StatusCode ChangedOnDisk = StatusCode::ChangedOnDisk;
    static constexpr StatusCode WriteFailed = StatusCode::WriteFailed;

    // Implicit, so that a plain code is a status without words of its own.
    Status(StatusCode code = StatusCode::Ok) // NOLINT(google-explicit-constructor)
        : m_code(code) { }
    Status(StatusCode code, std::string message)
        : m_code(code)
        , m_message(std::move(message)) { }

    [[nodiscard]] StatusCode code() const { return m_code; }
    [[nodiscard]] bool ok() const { return m_code == StatusCode::Ok; }
    // The store's sentence, or statusText(code()) when it gave none.
    [[nodiscard]] std::string message() const {
        return m_message.empty() ? std::string(statusText(m_code)) : m_message;
    }

    friend bool operator==(const Status& status, StatusCode code) { return status.m_code == code; }
    // Two results are alike when their codes are: the words are for the user, not for decisions.
    friend bool operator==(const Status& a, const Status& b) { return a.m_code == b.m_code; }
    // For test failure output.
    friend void PrintTo(const Status& status, std::ostream* out);

private:
    StatusCode m_code;
    std::string m_message;
};

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
