#include "RegistryDump.h"

#include "codec/Utf.h"

#include <cstdio>
#include <vector>

namespace quern::test {

namespace {

std::string hexBytes(const std::vector<std::uint8_t>& data) {
    std::string text;
    char digits[4];
    for (const std::uint8_t byte : data) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

void dumpValues(reg::RegStore& store, reg::HKey key, const std::string& indent, std::string& out) {
    std::u16string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; store.enumValue(key, i, name, &type, &data) == reg::Status::Ok; ++i) {
        char typeText[16];
        std::snprintf(typeText, sizeof typeText, "%08x", type);
        out += indent + "  \"" + reg::toUtf8(name) + "\" " + typeText + " [" + hexBytes(data) + "]\n";
    }
}

void dumpKey(reg::RegStore& store, reg::HKey key, const std::string& indent, std::string& out) {
    reg::KeyInfo info;
    if (store.queryInfo(key, info) != reg::Status::Ok) {
        out += indent + "(cannot be read)\n";
        return;
    }
    out += indent + "  time " + std::to_string(info.lastWriteTime) + (info.isLink ? " link" : "")
        + (info.className.empty() ? "" : " class \"" + reg::toUtf8(info.className) + "\"") + "\n";
    dumpValues(store, key, indent, out);
    std::u16string name;
    for (std::uint32_t i = 0; store.enumKey(key, i, name) == reg::Status::Ok; ++i) {
        out += indent + "[" + reg::toUtf8(name) + "]\n";
        reg::HKey sub = reg::kNoKey;
        if (store.openKey(key, name, reg::Access::Read, reg::kOpenLink, sub) != reg::Status::Ok) {
            out += indent + "  (cannot be opened)\n";
            continue;
        }
        dumpKey(store, sub, indent + "  ", out);
        (void)store.closeKey(sub);
    }
}

} // namespace

std::string dumpRegistry(reg::RegStore& store) {
    std::string out;
    for (const auto& [root, rootName] :
        { std::pair { reg::kLocalMachine, "HKEY_LOCAL_MACHINE" }, std::pair { reg::kUsers, "HKEY_USERS" } }) {
        out += std::string("[") + rootName + "]\n";
        dumpKey(store, root, "", out);
    }
    return out;
}

} // namespace quern::test
