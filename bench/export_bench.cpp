// The export of a whole registry: the sample prefix with the everything entry, as a backup of all
// of it would be made. Prints the time and MB/s written, best of several runs.

#include "export/RegExport.h"
#include "wine/WinePrefixStore.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace quern;

int main(int argc, char** argv) {
    const std::string prefix = argc > 1 ? argv[1] : std::string(QUERN_SAMPLE_PREFIX_DIR);
    const fs::path work = fs::temp_directory_path() / ("quern-export-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "prefix");
    for (const char* name : { "system.reg", "user.reg", "userdef.reg" })
        fs::copy_file(prefix + "/" + name, work / "prefix" / name);
    reg::WinePrefixOptions options;
    options.prefixDir = work / "prefix";
    options.scanProcesses = false;
    {
        reg::WinePrefixStore store(options);
        reg::RegAccessor registry(store);
        auto timed = [&](const char* what, const std::vector<std::string>& entries) {
            double best = 1e30;
            std::uint64_t bytes = 0;
            for (int run = 0; run < 10; ++run) {
                const auto start = std::chrono::steady_clock::now();
                RegFileExport file(registry.store());
                if (!file.OpenRegFile(work / "all.reg").ok()) return;
                for (const auto& entry : entries)
                    file.ExportTree(entry);
                if (!file.CloseRegFile().ok()) return;
                best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
                bytes = file.bytesWritten();
            }
            std::printf("  %-36s %8.1f ms  %7.1f MB/s  (%.1f MB written)\n", what, best * 1e3,
                static_cast<double>(bytes) / 1e6 / best, static_cast<double>(bytes) / 1e6);
        };
        std::printf("Export of the sample prefix, best of 10\n");
        timed("everything (the six roots)", { "\\" });
        // What "wine regedit /E" writes without a key: the two roots that hold all the rest.
        timed("HKEY_LOCAL_MACHINE and HKEY_USERS", { "HKEY_LOCAL_MACHINE\\", "HKEY_USERS\\" });
    }
    fs::remove_all(work);
    return 0;
}
