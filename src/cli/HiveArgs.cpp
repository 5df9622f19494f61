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

} // namespace

reg::Status takeHiveArgs(std::vector<std::string>& args, std::vector<HiveMount>& mounts) {
    std::size_t taken = 0;
    while (taken < args.size() && isHiveSwitch(args[taken])) {
        if (taken + 1 >= args.size()) return reg::Status(reg::Status::BadPath, "/hive needs NAME=FILE.");
        HiveMount mount;
        if (reg::Status parsed = parseHiveMount(args[taken + 1], mount); !parsed.ok()) return parsed;
        mounts.push_back(std::move(mount));
        taken += 2;
    }
    args.erase(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(taken));
    return reg::Status::Ok;
}

reg::Status mountHives(reg::MemoryRegistry& store, const std::vector<HiveMount>& mounts) {
    for (const auto& mount : mounts)
        if (reg::Status st = reg::mountHiveFile(store, mount.at, reg::toUtf16(mount.name), mount.file); !st.ok())
            return st;
    return reg::Status::Ok;
}

} // namespace quern::cli
