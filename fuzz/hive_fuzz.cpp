// Feeds arbitrary bytes to the hive reader as a hive file: opening it must either refuse it with a
// message or load a tree that the store walks to its end, never read outside the file or loop.
// The hive is opened read-only, so nothing is ever written back.

#include "hive/OfflineHive.h"

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace quern::reg;

namespace {

void walk(RegStore& store, HKey key, int depth) {
    KeyInfo info;
    if (store.queryInfo(key, info) != Status::Ok || depth > 600) __builtin_trap();
    std::u16string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; store.enumValue(key, i, name, &type, &data) == Status::Ok; ++i) {
        std::vector<std::uint8_t> again;
        if (store.queryValue(key, name, type, again) != Status::Ok) __builtin_trap();
    }
    for (std::uint32_t i = 0; store.enumKey(key, i, name) == Status::Ok; ++i) {
        HKey sub = kNoKey;
        // Link keys are followed on open; one may lead anywhere, so only plain keys are walked into.
        if (store.openKey(key, name, Access::Read, kOpenLink, sub) != Status::Ok) __builtin_trap();
        walk(store, sub, depth + 1);
        (void)store.closeKey(sub);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("hive", 0);
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    MemoryRegistry store(MemoryRegistryOptions { {}, {}, false, {} });
    HiveOpenOptions options;
    options.readOnlyReason = "The fuzzer only reads.";
    const Status mounted = mountHiveFile(store, kLocalMachine, u"FUZZ", path, options);
    if (!mounted.ok()) {
        if (mounted.message().empty()) __builtin_trap();
        return 0;
    }
    HKey root = kNoKey;
    if (store.openKey(kLocalMachine, u"FUZZ", Access::Read, kOpenLink, root) != Status::Ok) __builtin_trap();
    walk(store, root, 0);
    return 0;
}
