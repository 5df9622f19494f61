#include "search/SearchCommands.h"

#include "codec/Utf.h"
#include "registry/RegU.h"
#include "search/FindU.h"
#include "search/SearchEngine.h"
#include "search/SearchHitsCommands.h"
#include "search/SearchHitsModel.h"
#include "search/SearchHitsPane.h"
#include "search/SearchingU.h"
#include "selection/TreeSelection.h" // the paths of values and keys a search names
#include "window/CommandWindow.h"
#include "window/KeyTreeItem.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTableView>
#include <QTreeWidget>
#include <QWindow>

namespace quern {

namespace {

// Where a search starts: the key the tree shows, or the value the grid's focus is on.
std::string startPosition(CommandWindow& window) {
    std::string position = keyPathOfNode(window.currentNode());
    const int row = window.focusedGridRow();
    if (row >= 0 && row < static_cast<int>(window.valueRows().size()))
        position += std::string(kValueSeparator) + window.valueRows()[static_cast<std::size_t>(row)].name;
    return position;
}

// Runs a walk with the wait window up and the main window disabled, so that no command starts
// inside it; the window keeps painting and the wait window can cancel it. tick, when given, runs
// each time the window handles its messages.
template<class Walk>
void withWaitWindow(CommandWindow& window, SearchState& state, Walk walk,
    const std::function<void(RegistrySearch&, TWaitForm&)>& tick = {}) {
    QWidget& main = *window.widget();
    state.SearchCancelled = false;
    // Disabling the window takes the keyboard from its pane, and enabling it again does not give
    // it back: it is given back below, so that a walk that moves nothing leaves the focus where
    // it was, and the next search starts from there, not from the tree.
    const QPointer<QWidget> focused = main.focusWidget();
    // The wait window stands apart from the main window, which is disabled meanwhile: a window
    // owned by it would be disabled with it and could not be closed to cancel.
    TWaitForm wait(state);
    wait.winId();
    if (QWindow* handle = wait.windowHandle()) handle->setTransientParent(main.windowHandle());
    main.setEnabled(false);
    wait.setWindowTitle(QStringLiteral("Looking for: \"%1\"").arg(QString::fromStdString(state.expression)));
    wait.show();
    // Messages are handled at most every 30 ms: often enough for the window, and seldom enough
    // that a walk over a quarter of a million keys is not spent in the message loop.
    QElapsedTimer sincePump; // not started: the first key handles them at once
    RegistrySearch* running = nullptr;
    RegistrySearch search(window.store(), state, [&] {
        if (sincePump.isValid() && sincePump.elapsed() < 30) return;
        if (tick) tick(*running, wait);
        QApplication::processEvents();
        sincePump.restart();
    });
    running = &search;
    const RegistrySearch::Progress progress
        = [&](const std::string& position) { wait.LabelProgress->setText(shownText(position)); };
    walk(search, progress);
    main.setEnabled(true);
    if (focused) focused->setFocus();
    wait.hide(); // hidden, not closed: closing is what cancels
    main.activateWindow();
}

// Search again and Find previous: from where the user stands to the next match either way.
void runSearchStep(CommandWindow& window, SearchState& state, SearchHitsPane& hits, bool backwards) {
    if (state.expression.empty()) {
        runFindDialog(window, state, hits, backwards);
        return;
    }
    std::string position = startPosition(window);
    bool found = false;
    withWaitWindow(window, state, [&](RegistrySearch& search, const RegistrySearch::Progress& progress) {
        found
            = backwards ? search.SearchBackward(position, &progress) : search.SearchRegistry(position, true, &progress);
    });
    if (state.SearchCancelled) return;
    if (!found) {
        // The pane that had the keyboard keeps it through the message too: a search again from
        // there says the same, instead of starting over from the key.
        const QPointer<QWidget> focused = window.widget()->focusWidget();
        QMessageBox::information(window.widget(), QStringLiteral("Quern"), QStringLiteral("No more matches found"));
        if (focused) focused->setFocus();
        return;
    }
    goToSearchMatch(window, position);
}

} // namespace

void runFindDialog(CommandWindow& window, SearchState& state, SearchHitsPane& hits, bool backwards) {
    TFindForm dialog(state, window.widget());
    const int result = dialog.exec();
    if (result == QDialog::Accepted)
        runSearchStep(window, state, hits, backwards);
    else if (result == TFindForm::kFindAll)
        runFindAll(window, state, hits);
}

void runSearchAgain(CommandWindow& window, SearchState& state, SearchHitsPane& hits) {
    runSearchStep(window, state, hits, false);
}

void runFindPrevious(CommandWindow& window, SearchState& state, SearchHitsPane& hits) {
    runSearchStep(window, state, hits, true);
}

void runFindAll(CommandWindow& window, SearchState& state, SearchHitsPane& pane) {
    pane.begin(QString::fromStdString(state.expression));
    QElapsedTimer sinceCounts;
    sinceCounts.start();
    const auto tick = [&](RegistrySearch& search, TWaitForm& wait) {
        // New hits get their rows at every pass through the message loop, so they show as they
        // come; the counts change a few times a second, where they can still be read.
        pane.showNewHits();
        if (sinceCounts.elapsed() < 200 && !wait.LabelCounts->isHidden()) return;
        sinceCounts.restart();
        wait.showCounts(search.keysVisited(), pane.model().hits().size());
        if (!search.visiting().empty()) wait.LabelProgress->setText(shownText(search.visiting()));
    };
    withWaitWindow(
        window, state,
        [&](RegistrySearch& search, const RegistrySearch::Progress& progress) {
            (void)search.FindEverywhere(
                [&](const std::string& position) {
                    pane.addHit(position);
                    if (pane.hitCount() == 0) {
                        // The first hit shows at once, not at the next pass through the messages.
                        pane.showNewHits();
                        pane.List->viewport()->repaint();
                    }
                    return !state.SearchCancelled;
                },
                &progress);
        },
        tick);
    pane.finish(state.SearchCancelled);
    if (pane.hitCount() > 0) pane.List->setFocus();
}

void addFindItems(QMenu& findMenu, CommandWindow& window, SearchState& state, SearchHitsPane& hits,
    std::function<TTreeSel&()> selection) {
    QAction* previous = findMenu.addAction(QStringLiteral("Find &previous"));
    previous->setObjectName(QStringLiteral("SearchPreviousMNU"));
    previous->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    previous->setStatusTip(QStringLiteral("Find the previous match of the search before the current key/value"));
    QObject::connect(previous, &QAction::triggered, &hits, [&] { runFindPrevious(window, state, hits); });
    hits.setSource(window.store(), [&window] { return std::pair { window.binViewMode(), window.dwordViewMode() }; });
    QObject::connect(&hits, &SearchHitsPane::hitActivated, &hits,
        [&window](const std::string& position) { goToSearchMatch(window, position); });
    QObject::connect(&hits, &SearchHitsPane::saveRequested, &hits, [&] { saveSearchHits(window, hits); });
    QObject::connect(&hits, &SearchHitsPane::markRequested, &hits,
        [&window, &hits, selection] { markSearchHits(window, selection(), hits); });
}

void goToSearchMatch(CommandWindow& window, const std::string& position) {
    if (!IsValuePath(position)) {
        window.focusTree();
        window.goToKeyPath(position);
        window.flushTreeChange();
        return;
    }
    const std::string key = KeyOfPath(position);
    const std::string name = position.substr(key.size() + kValueSeparator.size());
    window.goToKeyPath(key);
    window.flushTreeChange();
    window.FillGrid(window.currentNode());
    const std::vector<ValueRow>& rows = window.valueRows();
    const std::u16string wanted = reg::toUtf16(name);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (!reg::sameName(reg::toUtf16(rows[row].name), wanted)) continue;
        window.focusValueRow(row);
        break;
    }
}

} // namespace quern
