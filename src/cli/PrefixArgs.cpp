#include "cli/PrefixArgs.h"

#include <sys/stat.h>

namespace quern::cli {

namespace {

bool isPrefixSwitch(const std::string& arg) {
    if (arg.size() != 7 || (arg[0] != '/' && arg[0] != '-')) return false;
    std::string word = arg.substr(1);
    for (char& c : word)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return word == "prefix";
}

bool isRegularFile(const std::string& path) {
    struct stat st { };
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

reg::Status takeLeadingArgs(std::vector<std::string>& args, LeadingArgs& taken) {
    for (;;) {
        if (reg::Status hives = takeHiveArgs(args, taken.hives); !hives.ok()) return hives;
        if (args.empty() || !isPrefixSwitch(args[0])) return {};
        if (args.size() < 2 || args[1].empty())
            return { reg::Status::BadPath, "/prefix needs the folder of a Wine prefix." };
        if (!taken.prefix.empty()) return { reg::Status::BadPath, "/prefix is given twice." };
        taken.prefix = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
}

reg::Status checkPrefixFolder(const std::string& folder) {
    struct stat st { };
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return { reg::Status::NotFound, "The Wine prefix " + folder + " does not exist." };
    if (!isRegularFile(folder + "/system.reg") && !isRegularFile(folder + "/user.reg"))
        return { reg::Status::BadPath, folder + " is not a Wine prefix: it holds no system.reg or user.reg." };
    return {};
}

} // namespace quern::cli
