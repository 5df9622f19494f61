// What the tree's painting asks of the selection: the state of each item it draws. With 10,000
// entries, the state of 1,000 items, answered by the index and by a plain scan of the entries.

#include "selection/TreeSelection.h"
#include "wine/WinePrefixStore.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace quern;

int main() {
    const auto dir = std::filesystem::temp_directory_path() / ("quern-selection-bench-" + std::to_string(::getpid()));
    reg::WinePrefixOptions options;
    options.prefixDir = dir;
    options.createIfMissing = true;
    options.scanProcesses = false;
    {
        reg::WinePrefixStore store(options);
        reg::RegAccessor registry(store);
        TTreeSel selection(registry.store());

        // Entries of every form over a tree of paths four levels deep.
        std::mt19937 random(1);
        auto randomKey = [&] {
            std::string path = "HKEY_CURRENT_USER\\Software";
            for (int level = 0; level < 4; ++level)
                path += "\\Key" + std::to_string(random() % 40);
            return path;
        };
        std::vector<std::string> entries;
        for (int i = 0; i < 10000; ++i) {
            const std::string key = randomKey();
            switch (i % 3) {
            case 0:
                entries.push_back(key + "\\");
                break;
            case 1:
                entries.push_back(key);
                break;
            default:
                entries.push_back(key + "\\\\Value" + std::to_string(i));
                break;
            }
        }
        selection.setEntries(entries);
        std::vector<std::string> items;
        for (int i = 0; i < 1000; ++i)
            items.push_back(randomKey());

        auto timed = [&](auto&& ask) {
            double best = 1e30;
            int selected = 0;
            for (int run = 0; run < 5; ++run) {
                selected = 0;
                const auto start = std::chrono::steady_clock::now();
                for (const auto& item : items)
                    selected += ask(item) >= selAlone;
                best = std::min(
                    best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            }
            return std::pair { best, selected };
        };
        (void)selection.StateOfPath("warm the index");
        const auto [indexed, a] = timed([&](const std::string& p) { return selection.StateOfPath(p); });
        const auto [scanned, b] = timed([&](const std::string& p) { return selection.StateOfPathByScan(p); });
        const auto rebuild = std::chrono::steady_clock::now();
        selection.setEntries(entries);
        (void)selection.StateOfPath(items.front());
        const double rebuilt
            = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - rebuild).count();
        std::printf("Selection states of 1,000 tree items with 10,000 entries\n");
        std::printf("  %-40s %8.2f ms   (target under 50 ms; %d selected)\n", "with the index", indexed, a);
        std::printf("  %-40s %8.2f ms   (%d selected; %.0f x the index)\n", "by a scan of the entries", scanned, b,
            scanned / indexed);
        std::printf("  %-40s %8.2f ms\n", "index rebuilt after a change", rebuilt);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
