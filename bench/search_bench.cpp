// The registry search's walk: keys and values per second on a generated system.reg of about 50 MB
// with an expression that matches nothing (every key and value is visited and tested, names and
// data, as when a search finds nothing), and Find all with "*" over the sample prefix, where every
// key and value is a hit. Prints the figures and the target; run it from scripts/bench.sh.

#include "generated_registry.h"
#include "registry/RegAccessor.h"
#include "search/SearchEngine.h"
#include "wine/WinePrefixStore.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace quern;
using namespace quern::bench;
namespace fs = std::filesystem;

namespace {

// The window's searches walk at least this many keys a second.
constexpr double kTargetKeysPerSecond = 300000;

struct Walk {
    double seconds = 0;
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
    std::uint64_t hits = 0;
    std::uint64_t pumps = 0;
};

// Times one walk of a fresh search over the whole registry, from the top node: counts start at 0.
Walk timedWalk(reg::RegAccessor& registry, const std::string& expression, bool findAll) {
    SearchState state;
    state.expression = expression;
    Walk walk;
    // What the window's pump costs at the least: a call through std::function for every key.
    RegistrySearch search(registry.store(), state, [&walk] { ++walk.pumps; });
    const auto start = std::chrono::steady_clock::now();
    if (findAll) {
        walk.hits = search.FindAll("", [](const std::string&) { return true; });
    } else {
        std::string position;
        walk.hits = search.SearchRegistry(position, true) ? 1 : 0;
    }
    walk.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    walk.keys = search.keysVisited();
    walk.values = search.valuesTested();
    return walk;
}

// Several walks; the median is quoted, as the machine is shared, with the best beside it.
void report(const char* title, reg::RegAccessor& registry, const std::string& expression, bool findAll, int runs) {
    std::vector<Walk> walks;
    for (int i = 0; i < runs; ++i)
        walks.push_back(timedWalk(registry, expression, findAll));
    std::sort(walks.begin(), walks.end(), [](const Walk& a, const Walk& b) { return a.seconds < b.seconds; });
    const Walk& median = walks[walks.size() / 2];
    const Walk& best = walks.front();
    std::printf("%s\n", title);
    std::printf("  %llu keys, %llu values, %llu hits, pump called %llu times; median of %d walks\n",
        static_cast<unsigned long long>(median.keys), static_cast<unsigned long long>(median.values),
        static_cast<unsigned long long>(median.hits), static_cast<unsigned long long>(median.pumps), runs);
    std::printf("  %-10s %9.1f ms  %11.0f keys/s  %11.0f values/s\n", "median", median.seconds * 1e3,
        static_cast<double>(median.keys) / median.seconds, static_cast<double>(median.values) / median.seconds);
    std::printf("  %-10s %9.1f ms  %11.0f keys/s  %11.0f values/s\n", "best", best.seconds * 1e3,
        static_cast<double>(best.keys) / best.seconds, static_cast<double>(best.values) / best.seconds);
    const double keysPerSecond = static_cast<double>(median.keys) / median.seconds;
    std::printf("  target: at least %.0f keys/s (%s, %.2f x the target)\n\n", kTargetKeysPerSecond,
        keysPerSecond >= kTargetKeysPerSecond ? "met" : "MISSED", keysPerSecond / kTargetKeysPerSecond);
}

} // namespace

int main(int argc, char** argv) {
    const std::string sampleDir = argc > 1 ? argv[1] : QUERN_SAMPLE_PREFIX_DIR;
    const std::size_t targetBytes = (argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 50) * 1000 * 1000;

    const fs::path work = fs::temp_directory_path() / ("quern-search-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "sample");
    fs::create_directories(work / "large");
    for (const char* name : { "system.reg", "user.reg", "userdef.reg" })
        fs::copy_file(sampleDir + "/" + name, work / "sample" / name);
    const std::string large = generatedSystemReg(readText(sampleDir + "/system.reg"), targetBytes);
    writeText(work / "large/system.reg", large);

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    {
        reg::WinePrefixStore store(optionsFor(work / "large"));
        reg::RegAccessor registry(store);
        char title[160];
        std::snprintf(title, sizeof title,
            "Search to the end, nothing matching, keys, value names and data (generated system.reg, %.1f MB)",
            static_cast<double>(large.size()) / 1e6);
        report(title, registry, "quern-bench-matches-nothing", false, 5);
    }
    {
        reg::WinePrefixStore store(optionsFor(work / "sample"));
        reg::RegAccessor registry(store);
        report("Find all with \"*\" (the sample prefix)", registry, "*", true, 20);
    }
    fs::remove_all(work);
    std::fflush(stdout);
    return 0;
}
