#include "registry/KeyDetails.h"

#include "registry/RegAccessor.h"
#include "registry/RegU.h"

#include <cstdio>
#include <ctime>

namespace quern {

namespace {

// FILETIME counts 100 ns steps from 1601; Unix time seconds from 1970.
constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ull;
constexpr std::uint64_t kFileTimeSecond = 10000000ull;

std::string counted(std::uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

} // namespace

bool readKeyDetails(reg::RegStore& store, std::string_view keyPath, KeyDetails& details) {
    details = KeyDetails {};
    if (keyPath.empty()) return false;
    reg::RegAccessor registry(store);
    if (!openKeyPath(registry, keyPath, reg::Access::Read)) return false;
    reg::KeyInfo info;
    if (!store.queryInfo(registry.currentKey(), info).ok()) return false;
    details.lastWriteTime = info.lastWriteTime;
    details.subkeyCount = info.subkeyCount;
    details.valueCount = info.valueCount;
    return true;
}

std::string localTimeText(std::uint64_t fileTime) {
    if (fileTime == 0) return {};
    // Times before 1970 are real FILETIMEs too; time_t is signed.
    const auto seconds = static_cast<std::int64_t>(fileTime / kFileTimeSecond)
        - static_cast<std::int64_t>(kFileTimeUnixEpoch / kFileTimeSecond);
    const auto when = static_cast<std::time_t>(seconds);
    std::tm local {};
    if (!::localtime_r(&when, &local)) return {};
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

std::string keyDetailsText(const KeyDetails& details, std::optional<std::size_t> valueBytes) {
    std::string text;
    if (const std::string written = localTimeText(details.lastWriteTime); !written.empty())
        text = "Written " + written + " \xC2\xB7 ";
    text += counted(details.subkeyCount, "subkey", "subkeys") + " \xC2\xB7 "
        + counted(details.valueCount, "value", "values");
    if (valueBytes) text += " \xC2\xB7 value " + counted(*valueBytes, "byte", "bytes");
    return text;
}

} // namespace quern
