#include "registry/HiveMount.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

namespace quern {

namespace {

// Takes a root the name begins with off it.
reg::HKey takeRoot(std::string& name) {
    static const std::pair<std::string_view, reg::HKey> kRoots[] = {
        { "HKLM\\", reg::kLocalMachine },
        { "HKEY_LOCAL_MACHINE\\", reg::kLocalMachine },
        { "HKU\\", reg::kUsers },
        { "HKEY_USERS\\", reg::kUsers },
    };
    for (const auto& [prefix, root] : kRoots) {
        if (name.size() <= prefix.size()) continue;
        std::string head = name.substr(0, prefix.size());
        std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::toupper(c); });
        if (head == prefix) {
            name.erase(0, prefix.size());
            return root;
        }
    }
    return reg::kLocalMachine;
}

} // namespace

reg::Status parseHiveMount(const std::string& text, HiveMount& mount) {
    const auto equals = text.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
        return reg::Status(reg::Status::BadPath, "A hive is given as NAME=FILE, not \"" + text + "\".");
    mount.name = text.substr(0, equals);
    mount.file = text.substr(equals + 1);
    mount.at = takeRoot(mount.name);
    if (mount.name.find('\\') != std::string::npos)
        return reg::Status(reg::Status::BadPath,
            "A hive is loaded directly below HKEY_LOCAL_MACHINE or HKEY_USERS, not as \"" + mount.name + "\".");
    return reg::Status::Ok;
}

} // namespace quern
