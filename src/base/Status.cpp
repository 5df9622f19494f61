#include "base/Status.h"

#include <ostream>

namespace quern::reg {

std::string_view statusText(StatusCode code) {
    switch (code) {
    case StatusCode::Ok:
        return "Done.";
    case StatusCode::NotFound:
        return "Not found.";
    case StatusCode::AccessDenied:
        return "Access denied.";
    case StatusCode::HasSubkeys:
        return "The key has subkeys.";
    case StatusCode::InvalidHandle:
        return "Not an open key.";
    case StatusCode::KeyDeleted:
        return "The key was deleted.";
    case StatusCode::NoMoreItems:
        return "No more items.";
    case StatusCode::BadPath:
        return "Not a valid key name or path.";
    case StatusCode::LinkLoop:
        return "A chain of link keys loops.";
    case StatusCode::ChangedOnDisk:
        return "The file was changed on disk.";
    case StatusCode::WriteFailed:
        return "The file could not be written.";
    case StatusCode::ReadFailed:
        return "The file could not be read.";
    case StatusCode::InvalidData:
        return "The data does not fit the value's type.";
    }
    return "Unknown error.";
}

void PrintTo(StatusCode code, std::ostream* out) {
    *out << statusText(code);
}

void PrintTo(const Status& status, std::ostream* out) {
    *out << status.message();
}

} // namespace quern::reg
