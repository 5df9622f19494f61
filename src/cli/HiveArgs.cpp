#include "cli/HiveArgs.h"

#include "codec/Utf.h"
#include "hive/OfflineHive.h"

#include <algorithm>
#include <cctype>

namespace quern::cli {

namespace {

bool isHiveSwitch(const std::string& arg) {
    if (arg.size() != 5 || (arg[0] != '/' && arg[0] != '-')) return false;
    std::string word = arg.substr(1);
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
    return word == "hive";
}

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

bool parseHiveMount(const std::string& text, HiveMount& mount, std::string& error) {
    const auto equals = text.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) {
        error = "A hive is given as NAME=FILE, not \"" + text + "\".";
        return false;
    }
    mount.name = text.substr(0, equals);
    mount.file = text.substr(equals + 1);
    mount.at = takeRoot(mount.name);
    if (mount.name.find('\\') != std::string::npos) {
        error = "A hive is loaded directly below HKEY_LOCAL_MACHINE or HKEY_USERS, not as \"" + mount.name + "\".";
        return false;
    }
    return true;
}

bool takeHiveArgs(std::vector<std::string>& args, std::vector<HiveMount>& mounts, std::string& error) {
    std::size_t taken = 0;
    while (taken < args.size() && isHiveSwitch(args[taken])) {
        if (taken + 1 >= args.size()) {
            error = "/hive needs NAME=FILE.";
            return false;
        }
        HiveMount mount;
        if (!parseHiveMount(args[taken + 1], mount, error)) return false;
        mounts.push_back(std::move(mount));
        taken += 2;
    }
    args.erase(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(taken));
    return true;
}

reg::Status mountHives(reg::MemoryRegistry& store, const std::vector<HiveMount>& mounts) {
    for (const auto& mount : mounts)
        if (reg::Status st = reg::mountHiveFile(store, mount.at, reg::toUtf16(mount.name), mount.file); !st.ok())
            return st;
    return reg::Status::Ok;
}

} // namespace quern::cli
