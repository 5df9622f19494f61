#include "transfer/ClipboardCommands.h"

#include "base/Names.h"
#include "codec/ValueText.h"
#include "discover/RegistryPlace.h"
#include "export/RegExport.h"
#include "import/ImportCommand.h"
#include "import/ImportPreview.h"
#include "import/KeyCopy.h"
#include "registry/ChangeLabels.h"
#include "registry/RegU.h"
#include "store/KeyWalk.h"
#include "transfer/ClipboardPayload.h"
#include "window/CommandWindow.h"
#include "window/KeyTreeItem.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>

#include <memory>

namespace quern {

namespace {

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

reg::Status openByPath(reg::RegStore& store, const std::string& path, reg::Access access, reg::KeyHandle& key) {
    return openKeyAtPath(store, path, access, reg::kOpenLink, key);
}

std::string lastComponent(const std::string& path) {
    const std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The key with everything below it as the text of a Version 5.00 file.
QString keyAsRegText(reg::RegStore& store, const std::string& path) {
    std::string bytes;
    RegFileExport exporter(store);
    if (!exporter.OpenRegOutput([&](std::string_view part) { return bytes.append(part), true; }, RegFileForm::Unicode)
             .ok())
        return {};
    exporter.ExportTree(path + "\\");
    if (!exporter.CloseRegFile().ok() || bytes.size() < 2) return {};
    return QString::fromUtf16(
        reinterpret_cast<const char16_t*>(bytes.data() + 2), static_cast<qsizetype>((bytes.size() - 2) / 2));
}

QString valuesAsRegText(const std::string& keyPath, const std::vector<ValueRow>& rows) {
    std::string lines = "Windows Registry Editor Version 5.00\r\n\r\n[" + keyPath + "]\r\n";
    for (const ValueRow& row : rows) {
        appendUnicodeRegFileValue(lines, row.name, row.type, row.data);
        lines += "\r\n";
    }
    return text(lines + "\r\n");
}

// Why the key at path cannot change, as its part of the registry says; empty when it can.
std::string readOnlyAt(reg::RegStore& store, const std::string& path) {
    reg::HKey root = reg::kNoKey;
    std::u16string below;
    return splitRootPath(path, root, below) ? store.readOnlyReasonAt(root, below) : store.readOnlyReason();
}

QMimeData* mimeData(const QString& regText, const ClipboardPayload& payload) {
    auto* data = new QMimeData;
    data->setText(regText);
    data->setData(QString::fromLatin1(kClipboardMimeType), QByteArray::fromStdString(clipboardText(payload)));
    return data;
}

void putOnClipboard(const QString& regText, const ClipboardPayload& payload) {
    QApplication::clipboard()->setMimeData(mimeData(regText, payload));
}

// Whether the key at inner is key, or lies below it: the two are compared as keys, so another
// name of the same key (HKCR and HKLM\Software\Classes) is caught too.
bool liesWithin(reg::RegStore& store, reg::HKey key, std::string inner) {
    reg::KeyInfo info;
    if (!store.queryInfo(key, info).ok()) return false;
    while (!inner.empty()) {
        reg::KeyHandle probe(store);
        reg::KeyInfo probed;
        if (openByPath(store, inner, reg::Access::Read, probe).ok() && store.queryInfo(probe.get(), probed).ok()
            && probed.identity == info.identity)
            return true;
        const std::size_t slash = inner.rfind('\\');
        inner.resize(slash == std::string::npos ? 0 : slash);
    }
    return false;
}

// What a paste is about to do, checked and planned before the preview.
struct Paste {
    reg::RegStore* from = nullptr;
    std::unique_ptr<reg::RegStore> opened; // a registry no tab shows, opened for the paste
    ClipboardPayload payload;
    CopyNode tree;
    std::string targetPath; // the key the tree's node is, or the values go into
    std::u16string name; // the key's name below the target (keys only)
    bool moves = false; // a cut in the same registry
    bool clipboardCut = false; // the clipboard's own cut, which it forgets once moved
};

// The registry the copy was made in: a tab's, else the prefix reopened; null when neither is there.
bool findSource(CommandWindow& window, Paste& paste) {
    paste.from = window.openRegistryAt(paste.payload.registry);
    discover::RegistryPlace place;
    if (!paste.from && discover::placeOfPath(paste.payload.registry, place).ok()) {
        std::string problem;
        paste.opened = discover::openPlace(place, problem);
        paste.from = paste.opened.get();
    }
    return paste.from;
}

// Asks what to do with a key of the same name below the target: merge (true), paste under a new
// name (name changed, true), or nothing (false).
bool settleNameClash(CommandWindow& window, reg::HKey target, Paste& paste) {
    reg::KeyHandle existing(window.store());
    if (!window.store().openKey(target, paste.name, reg::Access::Read, reg::kOpenLink, existing.out()).ok())
        return true;
    const std::u16string other = freeKeyName(window.store(), target, paste.name);
    QMessageBox box(QMessageBox::Question, QStringLiteral("Paste"),
        QStringLiteral("%1 already has a key named \"%2\".")
            .arg(shownText(paste.targetPath), shownText(reg::toUtf8(paste.name))),
        QMessageBox::NoButton, window.widget());
    QPushButton* merge = box.addButton(QStringLiteral("&Merge into it"), QMessageBox::AcceptRole);
    QPushButton* rename
        = box.addButton(QStringLiteral("Paste as \"%1\"").arg(shownText(reg::toUtf8(other))), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(rename);
    box.exec();
    if (box.clickedButton() == rename) paste.name = other;
    return box.clickedButton() == merge || box.clickedButton() == rename;
}

void tell(CommandWindow& window, const QString& message) {
    QMessageBox::warning(window.widget(), QStringLiteral("Paste"), message);
}

// Reads the copied key or values from the source registry into paste.tree.
bool readCopied(CommandWindow& window, Paste& paste) {
    reg::KeyHandle source(*paste.from);
    if (!openByPath(*paste.from, paste.payload.keyPath, reg::Access::Read, source).ok()) {
        tell(window, QStringLiteral("%1 is no longer there to paste.").arg(shownText(paste.payload.keyPath)));
        return false;
    }
    if (!paste.payload.valuesOnly) {
        readCopySource(*paste.from, source.get(), paste.tree, true);
        reg::KeyInfo info;
        paste.tree.isLink = paste.from->queryInfo(source.get(), info).ok() && info.isLink;
        return true;
    }
    for (const std::string& name : paste.payload.valueNames) {
        reg::RawValue value { reg::toUtf16(name), 0, {} };
        if (paste.from->queryValue(source.get(), value.name, value.type, value.data).ok())
            paste.tree.values.push_back(std::move(value));
    }
    if (paste.tree.values.empty()) tell(window, QStringLiteral("The values copied are no longer there to paste."));
    return !paste.tree.values.empty();
}

// Writes the paste as one batch; the status of the first failure, and then nothing of it stays.
reg::Status writePaste(CommandWindow& window, reg::HKey target, const Paste& paste, const reg::ChangeLabel& label) {
    reg::RegStore& store = window.store();
    reg::WriteBatch batch(store);
    reg::Status status = reg::Status::Ok;
    if (paste.payload.valuesOnly) {
        status = writeCopy(store, target, paste.tree, paste.targetPath);
        reg::KeyHandle source(store);
        if (status.ok() && paste.moves && openByPath(store, paste.payload.keyPath, reg::Access::Full, source).ok())
            for (const reg::RawValue& value : paste.tree.values)
                if (status.ok()) status = store.deleteValue(source.get(), value.name);
    } else {
        reg::KeyHandle made(store);
        const unsigned options = paste.tree.isLink ? reg::kCreateLink | reg::kOpenLink : reg::kOpenLink;
        status = store.createKey(target, paste.name, reg::Access::Full, options, made.out());
        const std::string path = paste.targetPath + "\\" + reg::toUtf8(paste.name);
        if (status.ok()) status = writeCopy(store, made.get(), paste.tree, path);
        if (status.ok() && paste.moves) {
            const std::size_t slash = paste.payload.keyPath.find('\\');
            reg::KeyHandle root(store);
            if (slash != std::string::npos
                && openByPath(store, paste.payload.keyPath.substr(0, slash), reg::Access::Full, root).ok())
                status = deleteKeyTree(store, root.get(), reg::toUtf16(paste.payload.keyPath.substr(slash + 1)));
        }
    }
    if (status.ok()) return batch.finish(label);
    batch.abandon();
    return status;
}

// Refuses a key pasted into itself, reads what was copied and settles a name clash; false when
// the paste stops there (the user was told, or chose Cancel).
bool readForPaste(CommandWindow& window, reg::HKey target, Paste& paste) {
    reg::RegStore& store = window.store();
    if (paste.payload.valuesOnly) return readCopied(window, paste);
    reg::KeyHandle source(store);
    if (paste.from == &store && openByPath(store, paste.payload.keyPath, reg::Access::Read, source).ok()
        && liesWithin(store, source.get(), paste.targetPath)) {
        tell(window,
            QStringLiteral("%1 lies inside %2: a key cannot be pasted into itself.")
                .arg(shownText(paste.targetPath), shownText(paste.payload.keyPath)));
        return false;
    }
    paste.name = reg::toUtf16(lastComponent(paste.payload.keyPath));
    return readCopied(window, paste) && settleNameClash(window, target, paste);
}

// The list of what the paste does: what it adds and changes where it goes (into, kNoKey for a
// new key), and for a move what it takes away where it was.
ImportPlan planPaste(reg::RegStore& store, const Paste& paste, reg::HKey into, const std::string& intoPath) {
    ImportPlan plan = planCopy(store, into, paste.tree, intoPath);
    if (paste.moves && !paste.payload.valuesOnly)
        plan.add({ RegChange::Kind::KeyDeleted, paste.payload.keyPath, {}, 0, {}, 0, {}, 0 });
    if (paste.moves && paste.payload.valuesOnly)
        for (const reg::RawValue& value : paste.tree.values)
            plan.add(
                { RegChange::Kind::ValueDeleted, paste.payload.keyPath, value.name, value.type, value.data, 0, {}, 0 });
    return plan;
}

// Shows the list; true when the user chose to go on and the registry can take it.
bool confirmPaste(
    CommandWindow& window, const ImportPlan& plan, const QString& what, const QString& readOnly, bool moves) {
    PreviewWords words;
    words.title = moves ? QStringLiteral("Move %1") : QStringLiteral("Paste %1");
    words.heading = moves ? QStringLiteral("Moving %1 makes these changes: %2")
                          : QStringLiteral("Pasting %1 makes these changes: %2");
    words.readOnly = QStringLiteral("The registry is read-only, so nothing can be pasted: %1");
    words.button = moves ? QStringLiteral("&Move") : QStringLiteral("&Paste");
    ImportPreview preview(what, plan, readOnly, window.widget(), words);
    if (preview.exec() != QDialog::Accepted) return false;
    if (!readOnly.isEmpty())
        tell(window, QStringLiteral("Nothing was pasted: the registry is read-only.\n%1").arg(readOnly));
    return readOnly.isEmpty();
}

// Whether the key a paste merges into is the key copied itself (a key put back where it is).
bool mergesWithItself(reg::RegStore& store, const Paste& paste, reg::HKey into) {
    if (into == reg::kNoKey || paste.payload.valuesOnly) return false;
    reg::KeyHandle source(store);
    reg::KeyInfo sourceInfo;
    reg::KeyInfo intoInfo;
    return openByPath(store, paste.payload.keyPath, reg::Access::Read, source).ok()
        && store.queryInfo(source.get(), sourceInfo).ok() && store.queryInfo(into, intoInfo).ok()
        && sourceInfo.identity == intoInfo.identity;
}

void pasteCopied(CommandWindow& window, Paste& paste) {
    reg::RegStore& store = window.store();
    reg::KeyHandle target(store);
    // Open to write into; a read-only registry still shows the list, which says why nothing can go.
    if (!openByPath(store, paste.targetPath, reg::Access::Full, target).ok()
        && !openByPath(store, paste.targetPath, reg::Access::Read, target).ok())
        return;
    if (!readForPaste(window, target.get(), paste)) return;
    const bool sameRegistry = paste.from == &store;
    paste.moves
        = paste.payload.cut && sameRegistry && !(paste.payload.valuesOnly && paste.payload.keyPath == paste.targetPath);
    // What the key pasted meets below the target: nothing, or the key it merges into.
    reg::KeyHandle existing(store);
    reg::HKey into = target.get();
    std::string intoPath = paste.targetPath;
    if (!paste.payload.valuesOnly) {
        intoPath += "\\" + reg::toUtf8(paste.name);
        into = store.openKey(target.get(), paste.name, reg::Access::Read, reg::kOpenLink, existing.out()).ok()
            ? existing.get()
            : reg::kNoKey;
        if (const std::string mismatch = linkMismatch(store, into, paste.tree, intoPath); !mismatch.empty()) {
            tell(window, text(mismatch) + QStringLiteral(" Nothing was pasted."));
            return;
        }
    }
    // A key moved into the key it already lies in, merged with itself: there is nothing to move,
    // and the deletion that ends a move would take the key away.
    if (sameRegistry && mergesWithItself(store, paste, into)) {
        QMessageBox::information(window.widget(), QStringLiteral("Paste"),
            QStringLiteral("%1 is already there: pasting it onto itself changes nothing.")
                .arg(shownText(paste.payload.keyPath)));
        return;
    }
    const ImportPlan plan = planPaste(store, paste, into, intoPath);
    const QString what = paste.payload.valuesOnly
        ? (paste.tree.values.size() == 1 ? QStringLiteral("1 value")
                                         : QStringLiteral("%1 values").arg(paste.tree.values.size()))
        : shownText(reg::toUtf8(paste.name));
    if (plan.empty()) {
        QMessageBox::information(window.widget(), QStringLiteral("Paste"),
            QStringLiteral("Pasting %1 changes nothing: %2 holds it already.").arg(what, shownText(paste.targetPath)));
        return;
    }
    if (!confirmPaste(window, plan, what, text(readOnlyAt(store, intoPath)), paste.moves)) return;
    const reg::Status written = writePaste(window, target.get(), paste,
        pasteLabel(paste.targetPath, what.toStdString(), paste.moves, paste.payload.keyPath));
    if (!written.ok()) {
        tell(window, QStringLiteral("Nothing was pasted:\n%1").arg(text(written.message())));
        window.RefreshMNUClick();
        return;
    }
    // What was cut is gone; a second paste finds nothing to move, so the clipboard forgets it.
    if (paste.moves && paste.clipboardCut) QApplication::clipboard()->clear();
    window.showTreeAgain(paste.payload.valuesOnly ? paste.targetPath : intoPath);
    window.showStatusMessage(paste.payload.cut && !sameRegistry
            ? QStringLiteral("Copied %1: a cut moves only within one registry, so the original stays where it was.")
                  .arg(what)
            : QStringLiteral("%1 %2 into %3")
                  .arg(paste.moves ? QStringLiteral("Moved") : QStringLiteral("Pasted"), what,
                      shownText(paste.targetPath)));
}

} // namespace

void copyToClipboard(CommandWindow& window, bool cut) {
    ClipboardPayload payload;
    payload.registry = window.store().location();
    payload.cut = cut;
    const QString verb = cut ? QStringLiteral("Cut") : QStringLiteral("Copied");
    if (window.focusedPane() == CommandWindow::Pane::Grid) {
        payload.keyPath = keyPathOfNode(window.currentNode());
        std::vector<ValueRow> rows;
        for (std::size_t row : window.highlightedValueRows())
            rows.push_back(window.valueRows()[row]);
        if (rows.empty() && window.focusedGridRow() >= 0
            && static_cast<std::size_t>(window.focusedGridRow()) < window.valueRows().size())
            rows.push_back(window.valueRows()[static_cast<std::size_t>(window.focusedGridRow())]);
        if (payload.keyPath.empty() || rows.empty()) {
            window.showStatusMessage(QStringLiteral("No value is highlighted to copy."));
            return;
        }
        payload.valuesOnly = true;
        for (const ValueRow& row : rows)
            payload.valueNames.push_back(row.name);
        putOnClipboard(valuesAsRegText(payload.keyPath, rows), payload);
        window.showStatusMessage(rows.size() == 1
                ? QStringLiteral("%1 the value %2")
                      .arg(verb, shownText(rows.front().name.empty() ? "(Default)" : rows.front().name))
                : QStringLiteral("%1 %2 values of %3").arg(verb).arg(rows.size()).arg(shownText(payload.keyPath)));
        return;
    }
    payload.keyPath = keyPathOfNode(window.currentNode());
    if (payload.keyPath.find('\\') == std::string::npos) {
        window.showStatusMessage(QStringLiteral("Choose a key below a root key to copy it."));
        return;
    }
    QApplication::clipboard()->setMimeData(keyMimeData(window, payload.keyPath, cut));
    window.showStatusMessage(QStringLiteral("%1 %2%3").arg(
        verb, shownText(payload.keyPath), cut ? QStringLiteral(": it moves when you paste it") : QString()));
}

QMimeData* keyMimeData(CommandWindow& window, const std::string& keyPath, bool cut) {
    ClipboardPayload payload;
    payload.registry = window.store().location();
    payload.keyPath = keyPath;
    payload.cut = cut;
    return mimeData(keyAsRegText(window.store(), keyPath), payload);
}

void pasteFromClipboard(CommandWindow& window) {
    if (const QMimeData* data = QApplication::clipboard()->mimeData()) pasteData(window, *data);
}

void pasteData(CommandWindow& window, const QMimeData& data, bool move) {
    const std::string target = keyPathOfNode(window.currentNode());
    if (target.empty()) {
        window.showStatusMessage(QStringLiteral("Choose the key to paste into."));
        return;
    }
    Paste paste;
    paste.targetPath = target;
    if (const auto payload = readClipboardText(data.data(QString::fromLatin1(kClipboardMimeType)).toStdString())) {
        paste.payload = *payload;
        paste.clipboardCut = paste.payload.cut;
        paste.payload.cut = paste.payload.cut || move;
        if (findSource(window, paste)) return pasteCopied(window, paste);
        // The copy's registry is gone (a hive file moved, a prefix deleted): its text would land
        // where it came from, not where the user pastes, so nothing is done.
        tell(window,
            QStringLiteral("%1 was copied from %2, which cannot be opened any more. Nothing was pasted.")
                .arg(shownText(paste.payload.keyPath), text(paste.payload.registry)));
        return;
    }
    const QString copied = data.text();
    if (!copied.isEmpty() && looksLikeRegFile(copied.toStdString())) {
        // A registry file from another program goes where it says, as an import of it would.
        importRegBytes(window, QStringLiteral("the text pasted"), copied.toStdString());
        return;
    }
    window.showStatusMessage(QStringLiteral("The clipboard holds no registry keys or values to paste."));
}

} // namespace quern
