// The import of a backup: the sample prefix's HKEY_LOCAL_MACHINE, exported in the Version 5.00
// form, read and imported into the registry of an empty Wine prefix, its write to disk included.
// Prints the best and the median of several runs beside the target of 150 ms. With a file name,
// the export is also left there, for scripts/import-bench.sh to hand the same file to Wine.

#include "export/RegExport.h"
#include "import/RegImport.h"
#include "wine/WinePrefixStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace quern;

namespace {

reg::WinePrefixOptions prefixOptions(const fs::path& dir) {
    reg::WinePrefixOptions options;
    options.prefixDir = dir.string();
    options.scanProcesses = false;
    options.createIfMissing = true;
    return options;
}

bool exportMachine(const std::string& prefix, const fs::path& work, const fs::path& file) {
    fs::create_directories(work / "sample");
    for (const char* name : { "system.reg", "user.reg", "userdef.reg" })
        fs::copy_file(prefix + "/" + name, work / "sample" / name);
    reg::WinePrefixOptions options = prefixOptions(work / "sample");
    options.createIfMissing = false;
    reg::WinePrefixStore sample(options);
    RegFileExport out(sample);
    if (!out.OpenRegFile(file.string(), RegFileForm::Unicode).ok()) return false;
    out.ExportTree("HKEY_LOCAL_MACHINE\\");
    return out.CloseRegFile().ok();
}

// One import into a new empty prefix; its time in seconds, or a negative number when it failed.
double timedImport(const fs::path& file, const fs::path& target) {
    fs::remove_all(target);
    reg::WinePrefixStore store(prefixOptions(target));
    const auto start = std::chrono::steady_clock::now();
    RegFileContent content;
    if (const reg::Status read = readRegFile(file.string(), content); !read.ok()) {
        std::fprintf(stderr, "%s\n", read.message().c_str());
        return -1;
    }
    if (const reg::Status status = applyImport(store, content); !status.ok()) {
        std::fprintf(stderr, "%s\n", status.message().c_str());
        return -1;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const fs::path work = fs::temp_directory_path() / ("quern-import-bench-" + std::to_string(::getpid()));
    const fs::path file = argc > 1 ? fs::path(argv[1]) : work / "hklm.reg";
    if (!exportMachine(QUERN_SAMPLE_PREFIX_DIR, work, file)) return 1;
    std::vector<double> times;
    for (int run = 0; run < 15; ++run) {
        const double seconds = timedImport(file, work / "target");
        if (seconds < 0) return 1;
        times.push_back(seconds);
    }
    std::sort(times.begin(), times.end());
    std::printf("Import of the sample prefix's HKEY_LOCAL_MACHINE (%.1f MB, Version 5.00) into an empty prefix\n",
        static_cast<double>(fs::file_size(file)) / 1e6);
    std::printf(
        "  best %.1f ms, median %.1f ms (target: under 150 ms)\n", times.front() * 1e3, times[times.size() / 2] * 1e3);
    fs::remove_all(work);
    return 0;
}
