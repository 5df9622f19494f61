#pragma once

#include "store/RegStore.h"

#include <string>

namespace quern::test {

// The whole registry as the store answers for it, one line per key and per value: every key below
// HKEY_LOCAL_MACHINE and HKEY_USERS in enumeration order with its class name, last write time and
// whether it is a link (links are listed as themselves, never followed), then its values in their
// order with name, type and every byte in hex. Two registries are the same when their dumps are;
// a difference reads like a diff.
[[nodiscard]] std::string dumpRegistry(reg::RegStore& store);

} // namespace quern::test
