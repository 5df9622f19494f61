// The list of registries: "quern-reg prefixes" as a whole process in a home folder holding 200
// Steam games' prefixes, beside "quern-reg query" of one small key of the sample prefix in the same
// run (the runs of the two take turns), with its target of 0.2 s; and the same list found inside a
// process with the wineservers and programs of each registry looked for, as a window would find it.

#include "discover/RegistryDiscovery.h"
#include "generated_registry.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace quern;
using namespace quern::bench;

namespace {

constexpr int kGames = 200;
constexpr int kRuns = 21;
constexpr double kTarget = 0.2;

void write(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// Steam as a player of many games has it: a library whose compatdata holds a prefix for each game,
// each named by its manifest, and the link Steam keeps to its folder.
void makeHome(const fs::path& home) {
    const fs::path steamapps = home / ".local/share/Steam/steamapps";
    write(steamapps / "libraryfolders.vdf",
        "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + (home / ".local/share/Steam").string()
            + "\"\n\t}\n}\n");
    const std::string registry(4096, ';'); // only the files' sizes are read: their text does not matter
    for (int i = 0; i < kGames; ++i) {
        const std::string appId = std::to_string(200000 + i * 10);
        for (const char* file : { "system.reg", "user.reg", "userdef.reg" })
            write(steamapps / "compatdata" / appId / "pfx" / file, registry);
        write(steamapps / ("appmanifest_" + appId + ".acf"),
            "\"AppState\"\n{\n\t\"appid\"\t\t\"" + appId + "\"\n\t\"name\"\t\t\"Game number " + std::to_string(i)
                + "\"\n\t\"StateFlags\"\t\t\"4\"\n\t\"installdir\"\t\t\"Game" + std::to_string(i) + "\"\n}\n");
    }
    fs::create_directories(home / ".steam");
    fs::create_directory_symlink(home / ".local/share/Steam", home / ".steam/steam");
}

// quern-reg with args as a whole process in the environment given: the seconds it took, or a
// negative number when it failed.
double timedRun(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
    const ProcessRun done = runProcess(QUERN_REG_PROGRAM, args, environment);
    return done.exitCode == 0 ? done.seconds : -1;
}

} // namespace

int main() {
    const fs::path work = fs::temp_directory_path() / ("quern-prefixes-bench-" + std::to_string(::getpid()));
    const fs::path home = work / "home";
    makeHome(home);
    fs::create_directories(work / "sample");
    for (const char* name : { "system.reg", "user.reg", "userdef.reg" })
        fs::copy_file(fs::path(QUERN_SAMPLE_PREFIX_DIR) / name, work / "sample" / name);
    const std::vector<std::string> environment { "HOME=" + home.string(), "TMPDIR=" + work.string() };
    std::vector<std::string> sampleEnvironment = environment;
    sampleEnvironment.push_back("WINEPREFIX=" + (work / "sample").string());

    std::vector<double> lists;
    std::vector<double> queries;
    for (int run = 0; run < kRuns; ++run) {
        lists.push_back(timedRun({ "prefixes" }, environment));
        queries.push_back(timedRun({ "query", "HKCU\\Software\\Wine\\Fonts", "/v", "LogPixels" }, sampleEnvironment));
    }
    if (*std::min_element(lists.begin(), lists.end()) < 0 || *std::min_element(queries.begin(), queries.end()) < 0) {
        std::fprintf(stderr, "quern-reg failed\n");
        fs::remove_all(work);
        return 1;
    }
    const double list = median(lists);
    const double query = median(queries);
    std::printf("quern-reg prefixes, %d Steam prefixes (whole process, median of %d): %.1f ms, %.2f of the target of "
                "%.0f ms\n",
        kGames, kRuns, list * 1000, list / kTarget, kTarget * 1000);
    std::printf("quern-reg query of one value of the sample prefix (same run): %.1f ms; the list takes %.2f times as "
                "long\n",
        query * 1000, list / query);

    discover::Environment variables { { "TMPDIR", work.string() } };
    std::vector<double> found;
    std::size_t count = 0;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        count = discover::discoverRegistries(home.string(), variables).registries.size();
        found.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("discoverRegistries with wineservers and programs looked for (in process, median): %.1f ms for %zu "
                "registries\n",
        median(found) * 1000, count);
    fs::remove_all(work);
    return list <= kTarget ? 0 : 1;
}
