// Load and save speed of the registry store, beside a plain read of the same file in the same run,
// the memory a loaded registry takes, and the cost of deleting every value of a large key. Prints
// a table; run it from scripts/bench.sh.

#include "generated_registry.h"
#include "registry/RegAccessor.h"
#include "wine/WinePrefixStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <malloc.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace quern::reg;
using namespace quern::bench;
namespace fs = std::filesystem;

namespace {

// The best of several runs, in seconds: the machine is shared, so the least disturbed run counts.
double bestOf(int runs, const std::function<void()>& work) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// Bytes the program holds from the heap, whether or not freed memory went back to the system.
long heapBytes() {
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<long>(info.uordblks + info.hblkhd);
}

std::size_t plainRead(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::string buffer(static_cast<std::size_t>(fs::file_size(path)), '\0');
    std::size_t done = 0;
    for (ssize_t n; (n = ::read(fd, buffer.data() + done, buffer.size() - done)) > 0;)
        done += static_cast<std::size_t>(n);
    ::close(fd);
    return done;
}

void report(const char* what, double bytes, double seconds, double plainSeconds) {
    const double mbs = bytes / 1e6 / seconds;
    std::printf("  %-34s %9.1f MB/s  %8.1f ms", what, mbs, seconds * 1e3);
    if (plainSeconds > 0) std::printf("   %5.2f x a plain read", plainSeconds / seconds);
    std::printf("\n");
}

void benchPrefix(const char* title, const std::string& dir, int runs) {
    double bytes = 0;
    for (const char* name : { "system.reg", "user.reg", "userdef.reg" })
        if (fs::exists(dir + "/" + name)) bytes += static_cast<double>(fs::file_size(dir + "/" + name));
    std::printf("%s: %.1f MB of registry text\n", title, bytes / 1e6);

    const double plain = bestOf(runs, [&] {
        for (const char* name : { "system.reg", "user.reg", "userdef.reg" })
            if (fs::exists(dir + "/" + name)) (void)plainRead(dir + "/" + name);
    });
    report("plain read (the ceiling)", bytes, plain, 0);

    // Each store is released after the clock stops: loading is timed, not tearing down.
    std::vector<std::unique_ptr<WinePrefixStore>> loaded;
    const double load = bestOf(runs, [&] { loaded.push_back(std::make_unique<WinePrefixStore>(optionsFor(dir))); });
    loaded.clear();
    report("load", bytes, load, plain);

    const long before = heapBytes();
    WinePrefixStore store(optionsFor(dir));
    const long after = heapBytes();
    std::printf("  %-34s %9.1f MB      %5.2f x the text\n", "memory while loaded", (after - before) / 1e6,
        static_cast<double>(after - before) / bytes);

    // One value changed: the file is read again, checked, every other block copied, written and synced.
    RegAccessor registry(store);
    registry.selectRoot(kLocalMachine);
    int counter = 0;
    const std::size_t systemBytes = fs::file_size(dir + "/system.reg");
    // Any key of the file will do: the first below the root.
    const auto& top = store.hive(WinePrefixStore::kSystem).root->subkeys;
    const std::string first
        = top.empty() ? std::string() : std::string(top.front()->name.begin(), top.front()->name.end());
    if (!registry.openKey("\\" + first)) std::printf("  cannot open %s\n", first.c_str());
    const double save = bestOf(runs, [&] {
        try {
            registry.writeInteger("QuernBench", ++counter);
        } catch (const RegError& error) {
            std::printf("  %s\n", error.what());
        }
    });
    report("save (one value changed)", static_cast<double>(systemBytes), save, 0);

    // Every block written anew in memory: the writer alone.
    const auto& hive = store.hive(WinePrefixStore::kSystem);
    std::string out;
    std::vector<BlockPlacement> placements;
    const double generate
        = bestOf(runs, [&] { serializeRegFile(*hive.root, {}, 0, hive.relativeTo, out, placements); });
    report("write every block anew (memory)", static_cast<double>(out.size()), generate, 0);
    std::printf("\n");
}

// Deleting every value of one key in one batch, front first as quern-reg's delete /va does, and
// writing the file: the time per value stays flat as the key grows when deletion is linear.
double deleteEveryValue(const fs::path& dir, int count) {
    fs::create_directories(dir);
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n"
                       "\n[Bulk] 1796672239\n#time=1dd86825f2528c0\n";
    for (int i = 0; i < count; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "\"value%06d\"=dword:%08x\n", i, i);
        text += line;
    }
    writeText(dir / "system.reg", text);
    WinePrefixStore store(optionsFor(dir));
    HKey key = kNoKey;
    if (store.openKey(kLocalMachine, u"Bulk", Access::Full, kOptionNone, key) != Status::Ok) return -1;
    std::vector<std::u16string> names;
    std::u16string name;
    for (std::uint32_t i = 0; store.enumValue(key, i, name, nullptr, nullptr) == Status::Ok; ++i)
        names.push_back(name);
    const auto start = std::chrono::steady_clock::now();
    store.beginBatch();
    for (const auto& each : names)
        (void)store.deleteValue(key, each);
    const Status written = store.endBatch();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    (void)store.closeKey(key);
    fs::remove_all(dir);
    return written == Status::Ok ? seconds : -1;
}

void benchDeleteEveryValue(const fs::path& work) {
    std::printf("Deleting every value of one key (front first, one write):\n");
    double first = 0;
    for (const int count : { 10000, 30000, 90000 }) {
        const double seconds = deleteEveryValue(work / ("va" + std::to_string(count)), count);
        if (seconds < 0) {
            std::printf("  %6d values: failed\n", count);
            continue;
        }
        std::printf("  %6d values %9.1f ms  %6.2f us a value", count, seconds * 1e3, seconds * 1e6 / count);
        if (first > 0)
            std::printf("   %5.1f x the time of 10000 (linear: %d x)", seconds / first, count / 10000);
        else
            first = seconds;
        std::printf("\n");
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    const std::string sampleDir = argc > 1 ? argv[1] : QUERN_SAMPLE_PREFIX_DIR;
    const std::size_t targetBytes = (argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 50) * 1000 * 1000;

    const fs::path work = fs::temp_directory_path() / ("quern-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "sample");
    fs::create_directories(work / "large");
    for (const char* name : { "system.reg", "user.reg", "userdef.reg" })
        fs::copy_file(sampleDir + "/" + name, work / "sample" / name);
    writeText(work / "large/system.reg", generatedSystemReg(readText(sampleDir + "/system.reg"), targetBytes));

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    benchPrefix("Sample prefix (three files)", work / "sample", 20);
    benchPrefix("Generated system.reg", work / "large", 3);
    benchDeleteEveryValue(work);
    fs::remove_all(work);
    std::fflush(stdout);
    return 0;
}
