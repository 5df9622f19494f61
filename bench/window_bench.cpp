// How quickly the main window shows a registry: start to a shown window at a deep key of the
// sample prefix, expanding a key with 100,000 subkeys, selecting a key with 100,000 values, and
// the memory the window holds. Runs on Qt's offscreen platform; prints a table.

#include "shell/QuernSettings.h"
#include "shell/QuernU.h"
#include "window/KeyTreeItem.h"
#include "wine/WinePrefixStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTreeWidget>

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
            registry.openKey("\\Software\\Wide");
            for (int i = 0; i < 100000; ++i)
                registry.createKey("Key" + std::to_string(i));
            registry.openKey("\\Software\\Many");
            for (int i = 0; i < 100000; ++i)
                registry.writeInteger("Value" + std::to_string(i), i);
            (void)batch.finish();
        }
        TMainForm form(store);
        form.show();
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software"));
        settle();
        QTreeWidgetItem* software = control<QTreeWidget>(form, "TreeView")->currentItem();
        QTreeWidgetItem* wide = nullptr;
        QTreeWidgetItem* many = nullptr;
        for (int i = 0; i < software->childCount(); ++i) {
            if (software->child(i)->text(0) == QStringLiteral("Wide")) wide = software->child(i);
            if (software->child(i)->text(0) == QStringLiteral("Many")) many = software->child(i);
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
    }
    fs::remove_all(work);
    return 0;
}
