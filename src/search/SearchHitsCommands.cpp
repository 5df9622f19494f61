#include "search/SearchHitsCommands.h"

#include "codec/AtomicFile.h"
#include "search/SearchHits.h"
#include "search/SearchHitsModel.h"
#include "search/SearchHitsPane.h"
#include "selection/TreeSelection.h"
#include "window/CommandWindow.h"
#include "window/FileDialogs.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>

namespace quern {

namespace {

// The text of the list as it stands, written a part at a time: a million hits never make one
// string of their own.
reg::Status writeHits(AtomicFile& file, SearchHitsModel& model) {
    SearchHits& hits = model.hits();
    std::string text;
    for (int row = 0; row < model.rowCount(); ++row) {
        const std::size_t hit = model.hitOfRow(row);
        const bool gone = model.isGone(row);
        const std::string data = gone ? std::string() : model.dataText(row);
        appendHitLine(text,
            { hits.keyPath(hit), hits.isValue(hit), hits.isValue(hit) ? hits.valueName(hit) : std::string_view(), data,
                gone });
        if (text.size() >= (1u << 20)) {
            if (reg::Status written = file.write(text); !written.ok()) return written;
            text.clear();
        }
    }
    return file.write(text);
}

} // namespace

void saveSearchHits(CommandWindow& window, SearchHitsPane& hits) {
    const QString name = window.sharedFileDialogs().chooseSaveFile(
        QStringLiteral("Save hits as ..."), QStringLiteral("Text files (*.txt)"), QStringLiteral("txt"));
    if (name.isEmpty()) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    hits.recheck(); // what is gone by now is saved as gone
    AtomicFile file;
    reg::Status written = file.open(QFile::encodeName(name).toStdString());
    if (written.ok()) written = writeHits(file, hits.model());
    if (written.ok()) written = file.commit();
    QApplication::restoreOverrideCursor();
    if (!written.ok())
        QMessageBox::warning(window.widget(), QStringLiteral("Quern"),
            QStringLiteral("Cannot create file %1: %2").arg(name, QString::fromStdString(written.message())));
}

void markSearchHits(CommandWindow& window, TTreeSel& selection, SearchHitsPane& hits) {
    SearchHitsModel& model = hits.model();
    hits.recheck();
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(model.rowCount()));
    for (int row = 0; row < model.rowCount(); ++row)
        if (!model.isGone(row)) paths.push_back(model.hits().position(model.hitOfRow(row)));
    if (selection.MarkPaths(paths) == 0) return;
    window.showSelectionInMemo();
    window.repaintPanes();
}

} // namespace quern
