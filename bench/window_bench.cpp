// How quickly the main window shows a registry: start to a shown window at a deep key of the
// sample prefix, expanding a key with 100,000 subkeys, selecting a key with 100,000 values,
// sorting a key of 100,000 values of every kind by each column, and the memory the window holds.
// Runs on Qt's offscreen platform; prints a table.

#include "discover/RegistryPlace.h"
#include "shell/QuernSettings.h"
#include "shell/QuernU.h"
#include "shell/RegistryTabs.h"
#include "window/KeyTreeItem.h"
#include "wine/WinePrefixStore.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTableView>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quern;

namespace {

// The window keeps its controls to itself; the benchmark finds them by name, as the tests do.
template<class T> T* control(const QObject& form, const char* name) {
    return form.findChild<T*>(QLatin1String(name));
}

double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

reg::WinePrefixOptions optionsFor(const std::string& dir) {
    reg::WinePrefixOptions options;
    options.prefixDir = dir;
    options.scanProcesses = false;
    return options;
}

void settle() {
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

// 100,000 values of six kinds, their data in no order, so that each column's sort has work to do.
void writeMixedValues(reg::RegAccessor& registry) {
    for (int i = 0; i < 100000; ++i) {
        const std::string name = "Mixed" + std::to_string(i * 7919LL % 100003);
        const int number = static_cast<int>(i * 48271LL % 1000003) - 500000;
        const std::string text = "text " + std::to_string(number);
        std::vector<std::uint8_t> bytes;
        for (char c : text)
            bytes.insert(bytes.end(), { static_cast<std::uint8_t>(c), 0 });
        switch (i % 6) {
        case 0:
            registry.writeInteger(name, number);
            break;
        case 1:
            registry.writeString(name, text);
            break;
        case 2:
            registry.writeBinaryData(name, text.data(), text.size());
            break;
        case 3:
            bytes.insert(bytes.end(), { 0, 0, 'b', 0, 0, 0, 0, 0 });
            registry.writeRaw(name, reg::kRegMultiSz, bytes);
            break;
        case 4:
            registry.writeRaw(name, reg::kRegQword, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 8));
            break;
        default:
            registry.writeRaw(name, 0x12345678u - static_cast<std::uint32_t>(i % 5), bytes);
            break;
        }
    }
}

// A click on each header, twice, of a key with 100,000 values of every kind, beside the grid's
// plain refill of the same key in the same run; then a refill while the user's sort holds.
template<class Timed> void timeSorting(TMainForm& form, KeyTreeItem* key, Timed&& timed) {
    auto* grid = control<QTableView>(form, "KeyGrid");
    control<QTreeWidget>(form, "TreeView")->setCurrentItem(key);
    form.TreeViewChange(key);
    settle();
    control<QAction>(form, "TypeColumnMNU")->trigger(); // the Type column, to click its header
    const double refill = timed([&] {
        form.FillGrid(key);
        grid->viewport()->repaint();
    });
    std::printf("Sorting a key with 100,000 values of six kinds (%zu rows)\n", form.valueRows().size());
    std::printf("  %-52s %8.1f ms\n", "plain refill of the grid, by name", refill);
    // The order is by name at first: Type and Data start ascending, and so does Name after them.
    for (const auto& [column, what] : { std::pair { 2, "Type" }, std::pair { 1, "Data" }, std::pair { 0, "Name" } })
        for (const char* order : { "ascending", "descending" }) {
            const double sorted = timed([&] {
                emit grid->horizontalHeader()->sectionClicked(column);
                grid->viewport()->repaint();
            });
            const std::string step = std::string("click on ") + what + ", " + order;
            std::printf(
                "  %-52s %8.1f ms   (target under 300 ms; %.2f x the refill)\n", step.c_str(), sorted, sorted / refill);
        }
    emit grid->horizontalHeader()->sectionClicked(1); // by Data again, for the refill below
    const double sortedRefill = timed([&] {
        form.FillGrid(key);
        grid->viewport()->repaint();
    });
    std::printf("  %-52s %8.1f ms   (target under 300 ms; %.2f x the refill)\n", "refill while sorted by Data",
        sortedRefill, sortedRefill / refill);
}

// Opening a registry in a second tab against opening the window on it, both on a copy of the
// sample prefix, taking turns, the median of each; the window's own start is timed from its making
// to its first paint, the part of a start that the registry decides.
void timeSecondTab(const fs::path& work) {
    const auto since = [](std::chrono::steady_clock::time_point from) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from).count();
    };
    const discover::RegistryPlace first { discover::RegistryPlace::Kind::Prefix, work / "sample", "" };
    const discover::RegistryPlace second { discover::RegistryPlace::Kind::Prefix, work / "second", "Second" };
    std::vector<double> starts;
    std::vector<double> tabs;
    for (int run = 0; run < 7; ++run) {
        fs::remove(work / "preferences.ini"); // no tabs of an earlier run come back
        const auto from = std::chrono::steady_clock::now();
        RegistryTabs window;
        std::string problem;
        window.start(discover::openPlace(first, problem), first);
        window.show();
        settle();
        starts.push_back(since(from));
        const auto opening = std::chrono::steady_clock::now();
        window.openPlace(second);
        settle();
        tabs.push_back(since(opening));
    }
    std::sort(starts.begin(), starts.end());
    std::sort(tabs.begin(), tabs.end());
    const double start = starts[starts.size() / 2];
    const double tab = tabs[tabs.size() / 2];
    std::printf("A second registry in a tab (medians of 7, taking turns)\n");
    std::printf("  %-52s %8.1f ms\n", "the window made, on the sample prefix, to its paint", start);
    std::printf("  %-52s %8.1f ms   (target at most the window's; %.2f x)\n", "a copy of it opened in a second tab",
        tab, tab / start);
}

} // namespace

int main(int argc, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    auto since = [](std::chrono::steady_clock::time_point from) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from).count();
    };
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const fs::path work = fs::temp_directory_path() / ("quern-window-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "sample");
    for (const char* name : { "system.reg", "user.reg", "userdef.reg" })
        fs::copy_file(std::string(QUERN_SAMPLE_PREFIX_DIR) + "/" + name, work / "sample" / name);

    // Settings of its own: no run sees another's.
    setQuernSettingsFileName((work / "settings.ini").string());
    QApplication app(argc, argv);
    double shownAt = 0;
    double memory = 0;
    {
        reg::WinePrefixStore store(optionsFor(work / "sample"));
        TMainForm form(store);
        form.GoToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"));
        form.TreeViewChange(control<QTreeWidget>(form, "TreeView")->currentItem());
        form.show();
        settle();
        shownAt = since(start);
        memory = residentMegabytes();
    }
    std::printf("Main window over the sample prefix\n");
    std::printf("  %-52s %8.1f ms   (target under 500 ms)\n", "start to the shown window at a deep key", shownAt);
    std::printf("  %-52s %8.1f MB   (target under 100 MB)\n", "memory resident", memory);
    fs::create_directories(work / "second");
    for (const char* name : { "system.reg", "user.reg", "userdef.reg" })
        fs::copy_file(work / "sample" / name, work / "second" / name);
    timeSecondTab(work);

    // A registry with one key of 100,000 subkeys and one of 100,000 values.
    {
        reg::WinePrefixOptions options = optionsFor(work / "large");
        options.createIfMissing = true;
        reg::WinePrefixStore store(options);
        {
            reg::RegAccessor registry(store);
            reg::WriteBatch batch(store);
            registry.selectRoot(reg::kCurrentUser);
            registry.createKey("\\Software\\Wide");
            registry.createKey("\\Software\\Many");
            registry.createKey("\\Software\\Mixed");
            registry.openKey("\\Software\\Wide");
            for (int i = 0; i < 100000; ++i)
                registry.createKey("Key" + std::to_string(i));
            registry.openKey("\\Software\\Many");
            for (int i = 0; i < 100000; ++i)
                registry.writeInteger("Value" + std::to_string(i), i);
            registry.openKey("\\Software\\Mixed");
            writeMixedValues(registry);
            (void)batch.finish();
        }
        TMainForm form(store);
        form.show();
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software"));
        settle();
        QTreeWidgetItem* software = control<QTreeWidget>(form, "TreeView")->currentItem();
        QTreeWidgetItem* wide = nullptr;
        QTreeWidgetItem* many = nullptr;
        QTreeWidgetItem* mixed = nullptr;
        for (int i = 0; i < software->childCount(); ++i) {
            if (software->child(i)->text(0) == QStringLiteral("Wide")) wide = software->child(i);
            if (software->child(i)->text(0) == QStringLiteral("Many")) many = software->child(i);
            if (software->child(i)->text(0) == QStringLiteral("Mixed")) mixed = software->child(i);
        }
        auto timed = [&](auto&& step) {
            const auto from = std::chrono::steady_clock::now();
            step();
            settle();
            return since(from);
        };
        const double expand = timed([&] { wide->setExpanded(true); });
        const double select = timed([&] {
            control<QTreeWidget>(form, "TreeView")->setCurrentItem(many);
            form.TreeViewChange(many);
            control<QTableView>(form, "KeyGrid")->viewport()->repaint();
        });
        std::printf("Main window over a registry with two large keys\n");
        std::printf("  %-52s %8.1f ms   (target under 1000 ms; %d children)\n", "expanding a key with 100,000 subkeys",
            expand, wide->childCount());
        std::printf("  %-52s %8.1f ms   (target under 1000 ms; %zu rows)\n", "selecting a key with 100,000 values",
            select, form.valueRows().size());
        timeSorting(form, static_cast<KeyTreeItem*>(mixed), timed);
    }
    fs::remove_all(work);
    return 0;
}
