#pragma once

#include "registry/HiveMount.h"
#include "store/MemoryRegistry.h"

#include <string>
#include <vector>

namespace quern::cli {

// The mount-name parser lives in the core beside the accessor, where the window reaches it too.
using quern::HiveMount;
using quern::parseHiveMount;

// Takes the "/hive NAME=FILE" pairs that stand before the operation off args. BadPath, saying what
// is wrong, for a pair without NAME, "=" or FILE.
[[nodiscard]] reg::Status takeHiveArgs(std::vector<std::string>& args, std::vector<HiveMount>& mounts);

// Mounts each hive; the first failure, naming its file, and nothing mounted after it.
reg::Status mountHives(reg::MemoryRegistry& store, const std::vector<HiveMount>& mounts);

} // namespace quern::cli
