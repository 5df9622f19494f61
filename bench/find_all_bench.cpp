// Find all in the window, on Qt's offscreen platform, over the generated system.reg of about 50 MB
// with "*" (every key and value a hit): the complete search, the time until the first hits are
// drawn in the list and the time from Cancel until the search has stopped, each of the last two as
// a ratio of the complete search in the same run; then the list of all those hits filtered, sorted
// and scrolled. Prints the figures and the targets; run it from scripts/bench.sh.

#include "generated_registry.h"
#include "search/SearchCommands.h"
#include "search/SearchHitsPane.h"
#include "search/SearchingU.h"
#include "shell/QuernU.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace quern;
using namespace quern::bench;

namespace {

// The first hits show within this share of the complete search; a cancel stops within 0.2 s.
constexpr double kFirstHitsShare = 0.05;
constexpr double kStopSeconds = 0.2;

struct Run {
    double total = 0; // seconds, start to the list complete
    double firstShown = -1; // seconds, start to the first paint of the list with hits in it
    double stop = -1; // seconds, cancel to stopped
    int hits = 0;
};

// Notes when the list is first painted with rows in it.
class FirstPaint final : public QObject {
public:
    FirstPaint(SearchHitsPane& pane, QElapsedTimer& clock, double& at)
        : m_pane(pane)
        , m_clock(clock)
        , m_at(at) {
        pane.List->viewport()->installEventFilter(this);
    }
    ~FirstPaint() override { m_pane.List->viewport()->removeEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && m_at < 0 && m_pane.hitCount() > 0)
            m_at = static_cast<double>(m_clock.nsecsElapsed()) / 1e9;
        return false;
    }

private:
    SearchHitsPane& m_pane;
    QElapsedTimer& m_clock;
    double& m_at;
};

// One Find all from a deep key; with cancelAfter, the wait window is closed that many seconds in.
Run findAll(TMainForm& form, double cancelAfter) {
    Run run;
    QElapsedTimer clock;
    FirstPaint paint(form.hitsPane(), clock, run.firstShown);
    QElapsedTimer sinceCancel;
    if (cancelAfter > 0) {
        QTimer::singleShot(static_cast<int>(cancelAfter * 1000), [&] {
            for (QWidget* window : QApplication::topLevelWidgets())
                if (auto* wait = qobject_cast<TWaitForm*>(window); wait && wait->isVisible()) {
                    sinceCancel.start();
                    wait->close();
                }
        });
    }
    clock.start();
    runFindAll(form, form.searchState(), form.hitsPane());
    run.total = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (sinceCancel.isValid()) run.stop = static_cast<double>(sinceCancel.nsecsElapsed()) / 1e9;
    run.hits = form.hitsPane().hitCount();
    return run;
}

double millisecondsOf(const std::function<void()>& step) {
    QElapsedTimer clock;
    clock.start();
    step();
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

void timeTheList(SearchHitsPane& pane) {
    const double filter = millisecondsOf([&] {
        pane.Filter->setText(QStringLiteral("*\\Bench01*\\*"));
        emit pane.Filter->returnPressed();
        pane.List->viewport()->repaint();
    });
    const int filtered = pane.hitCount();
    const double unfilter = millisecondsOf([&] {
        pane.Filter->clear();
        emit pane.Filter->returnPressed();
        pane.List->viewport()->repaint();
    });
    const double sort = millisecondsOf([&] {
        pane.List->horizontalHeader()->setSortIndicator(1, Qt::AscendingOrder);
        pane.List->viewport()->repaint();
    });
    QScrollBar* bar = pane.List->verticalScrollBar();
    const double scroll = millisecondsOf([&] {
        for (int step = 1; step <= 20; ++step) {
            bar->setValue(bar->maximum() / 20 * step);
            pane.List->viewport()->repaint();
        }
    }) / 20;
    std::printf("The list of %d hits\n", pane.hitCount());
    std::printf("  filter to %d hits %8.1f ms, back to all %8.1f ms\n", filtered, filter, unfilter);
    std::printf("  sort by value name %8.1f ms; a jump of the scroll bar and its paint %6.2f ms\n\n", sort, scroll);
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string sampleDir = argc > 1 ? argv[1] : QUERN_SAMPLE_PREFIX_DIR;
    const std::size_t targetBytes = (argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 50) * 1000 * 1000;
    const fs::path work = fs::temp_directory_path() / ("quern-find-all-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "large");
    for (const char* name : { "user.reg", "userdef.reg" })
        fs::copy_file(sampleDir + "/" + name, work / "large" / name);
    writeText(work / "large/system.reg", generatedSystemReg(readText(sampleDir + "/system.reg"), targetBytes));
    // The settings the window reads and writes stay in the scratch folder.
    ::setenv("XDG_CONFIG_HOME", (work / "cfg").c_str(), 1);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    QApplication app(argc, argv);
    {
        reg::WinePrefixStore store(optionsFor(work / "large"));
        TMainForm form(store);
        form.resize(1000, 700);
        form.show();
        form.GoToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\Bench005\\Software\\Microsoft\\Windows NT\\CurrentVersion"));
        form.searchState().expression = "*";
        std::vector<double> totals, shares, stops, stopShares;
        int hits = 0;
        for (int i = 0; i < 5; ++i) {
            const Run complete = findAll(form, 0);
            totals.push_back(complete.total);
            shares.push_back(complete.firstShown / complete.total);
            hits = complete.hits;
            const Run cancelled = findAll(form, complete.total / 2);
            stops.push_back(cancelled.stop);
            stopShares.push_back(cancelled.stop / complete.total);
        }
        std::printf("Find all with \"*\" over the whole registry (generated system.reg), median of 5 runs\n");
        std::printf("  %d hits; the complete search %8.1f ms\n", hits, median(totals) * 1e3);
        std::printf("  first hits drawn after %.3f of it (%.1f ms); target at most %.2f (%s)\n", median(shares),
            median(shares) * median(totals) * 1e3, kFirstHitsShare,
            median(shares) <= kFirstHitsShare ? "met" : "MISSED");
        std::printf("  Cancel to stopped %.3f of it (%.1f ms); target at most %.0f ms (%s)\n\n", median(stopShares),
            median(stops) * 1e3, kStopSeconds * 1e3, median(stops) <= kStopSeconds ? "met" : "MISSED");
        (void)findAll(form, 0);
        timeTheList(form.hitsPane());
        form.close();
    }
    fs::remove_all(work);
    return 0;
}
