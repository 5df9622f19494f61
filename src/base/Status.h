#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>

namespace quern::reg {

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
    ReadFailed, // a file could not be read, or is not one a reader takes (a device, one far too large)
    InvalidData, // data given as text does not fit the value's type (a number too large, a stray digit)
};

// The code's plain sentence for the user ("Not found."), for a status the store gave no words of its own.
[[nodiscard]] std::string_view statusText(StatusCode code);
// For test failure output.
void PrintTo(StatusCode code, std::ostream* out);

// The result of a store call or a file helper: its code, and where the callee knows more (which
// file, which process, what the system said), the sentence that tells the user. It travels with the
// result, so a caller never reads a reason left behind by an earlier call. A status dropped unread
// is a failure nobody hears of, so the compiler refuses it; a caller that truly does not care
// (closing a key on the way out) says so with (void).
class [[nodiscard]] Status {
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
    static constexpr StatusCode ReadFailed = StatusCode::ReadFailed;
    static constexpr StatusCode InvalidData = StatusCode::InvalidData;

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

} // namespace quern::reg
