#include "transfer/CompareWindow.h"

#include "base/Names.h"
#include "import/ImportPreview.h"
#include "import/KeyCopy.h"
#include "import/RegDiff.h"
#include "import/RegFileReader.h"
#include "registry/PastedPath.h"
#include "search/JollyCheckU.h"
#include "store/MemoryRegistry.h"
#include "window/KeyTreeItem.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <map>

namespace quern {

namespace {

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QString plural(std::size_t count, const char* one, const char* many) {
    return count == 1 ? QStringLiteral("1 %1").arg(QLatin1String(one))
                      : QStringLiteral("%1 %2").arg(count).arg(QLatin1String(many));
}

// What a change of the way from the left to the right says about the two sides.
QString differenceText(RegChange::Kind kind) {
    switch (kind) {
    case RegChange::Kind::KeyAdded:
    case RegChange::Kind::ValueAdded:
        return QStringLiteral("only on the right");
    case RegChange::Kind::KeyDeleted:
        return QStringLiteral("only on the left");
    case RegChange::Kind::ValueDeleted:
        return QStringLiteral("only on the left");
    case RegChange::Kind::ValueChanged:
        return QStringLiteral("changed");
    }
    return {};
}

QString chooseWithDialog(QWidget* parent, bool forSaving) {
    QFileDialog dialog(parent,
        forSaving ? QStringLiteral("Save the changes as") : QStringLiteral("Compare with a file"), QString(),
        QStringLiteral("Registry file (*.reg);;All files (*)"));
    dialog.setAcceptMode(forSaving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(forSaving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("reg"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

constexpr int kPathRole = Qt::UserRole + 1;

} // namespace

CompareWindow::CompareWindow(CompareHost host, QWidget* parent)
    : QDialog(parent)
    , chooseFile([this](bool forSaving) { return chooseWithDialog(this, forSaving); })
    , m_host(std::move(host)) {
    setWindowTitle(QStringLiteral("Compare"));
    auto* layout = new QVBoxLayout(this);
    buildSides(*layout);
    auto* filterRow = new QHBoxLayout;
    auto* compareButton = new QPushButton(QStringLiteral("&Compare"), this);
    connect(compareButton, &QPushButton::clicked, this, &CompareWindow::compare);
    m_filter = new QLineEdit(this);
    m_filter->setObjectName(QStringLiteral("CompareFilter"));
    m_filter->setPlaceholderText(QStringLiteral(
        "Show only keys whose path holds this text, or matches an expression (*\\Wine\\* AND NOT *Fonts)"));
    connect(m_filter, &QLineEdit::textChanged, this, &CompareWindow::fill);
    filterRow->addWidget(compareButton);
    filterRow->addWidget(m_filter, 1);
    layout->addLayout(filterRow);
    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("CompareCounts"));
    layout->addWidget(m_counts);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("CompareList"));
    m_list->setHeaderLabels({ QStringLiteral("Key / value"), QStringLiteral("Difference"), QStringLiteral("Left"),
        QStringLiteral("Right") });
    m_list->setUniformRowHeights(true);
    m_list->setTextElideMode(Qt::ElideMiddle);
    layout->addWidget(m_list, 1);
    connect(m_list, &QTreeWidget::itemActivated, this, [this] { showSelected(false); });

    buildButtons(*layout);
    for (const CompareSource& source : m_host.registries ? m_host.registries() : std::vector<CompareSource> {})
        addSource(source);
    resize(960, 560);
}

void CompareWindow::buildSides(QVBoxLayout& layout) {
    auto* sides = new QGridLayout;
    for (bool left : { true, false }) {
        Side& side = left ? m_left : m_right;
        const int row = left ? 0 : 1;
        sides->addWidget(new QLabel(left ? QStringLiteral("&Left:") : QStringLiteral("&Right:"), this), row, 0);
        side.registry = new QComboBox(this);
        side.registry->setObjectName(left ? QStringLiteral("LeftRegistry") : QStringLiteral("RightRegistry"));
        side.key = new QLineEdit(this);
        side.key->setObjectName(left ? QStringLiteral("LeftKey") : QStringLiteral("RightKey"));
        side.key->setPlaceholderText(QStringLiteral("Key path; empty for the whole registry"));
        static_cast<QLabel*>(sides->itemAtPosition(row, 0)->widget())->setBuddy(side.registry);
        auto* file = new QPushButton(QStringLiteral("File..."), this);
        connect(file, &QPushButton::clicked, this, [this, left] { readFileInto(left); });
        sides->addWidget(side.registry, row, 1);
        sides->addWidget(side.key, row, 2);
        sides->addWidget(file, row, 3);
        connect(side.key, &QLineEdit::returnPressed, this, &CompareWindow::compare);
    }
    sides->setColumnStretch(2, 1);
    layout.addLayout(sides);
}

void CompareWindow::buildButtons(QVBoxLayout& layout) {
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* showLeft = buttons->addButton(QStringLiteral("Show &left"), QDialogButtonBox::ActionRole);
    QPushButton* showRight = buttons->addButton(QStringLiteral("Show ri&ght"), QDialogButtonBox::ActionRole);
    QPushButton* save = buttons->addButton(QStringLiteral("&Save left to right..."), QDialogButtonBox::ActionRole);
    QPushButton* saveBack = buttons->addButton(QStringLiteral("Save right to l&eft..."), QDialogButtonBox::ActionRole);
    QPushButton* apply = buttons->addButton(QStringLiteral("&Make right like left..."), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    connect(showLeft, &QPushButton::clicked, this, [this] { showSelected(true); });
    connect(showRight, &QPushButton::clicked, this, [this] { showSelected(false); });
    for (const auto& [button, reverse] : { std::pair { save, false }, std::pair { saveBack, true } })
        connect(button, &QPushButton::clicked, this, [this, reverse = reverse] {
            const QString file = chooseFile(true);
            if (file.isEmpty()) return;
            if (const reg::Status saved = saveChanges(QFile::encodeName(file).toStdString(), reverse); !saved.ok())
                QMessageBox::warning(this, QStringLiteral("Compare"), text(saved.message()));
            else
                m_counts->setText(summary() + QStringLiteral(" Saved to %1.").arg(file));
        });
    connect(apply, &QPushButton::clicked, this, &CompareWindow::makeRightLikeLeft);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout.addWidget(buttons);
}

void CompareWindow::addSource(const CompareSource& source) {
    for (const CompareSource& known : m_sources)
        if (known.store == source.store) return;
    m_sources.push_back(source);
    for (QComboBox* combo : { m_left.registry, m_right.registry })
        combo->addItem(source.name, QVariant::fromValue(static_cast<qulonglong>(m_sources.size() - 1)));
}

void CompareWindow::setSide(bool left, const CompareSource& source, const QString& keyPath) {
    addSource(source);
    Side& side = left ? m_left : m_right;
    for (std::size_t i = 0; i < m_sources.size(); ++i)
        if (m_sources[i].store == source.store) side.registry->setCurrentIndex(static_cast<int>(i));
    side.key->setText(keyPath);
}

reg::RegStore* CompareWindow::storeOf(const Side& side) const {
    const int index = side.registry->currentIndex();
    return index < 0 ? nullptr : m_sources[static_cast<std::size_t>(index)].store;
}

void CompareWindow::readFileInto(bool left) {
    const QString file = chooseFile(false);
    if (file.isEmpty()) return;
    auto scratch = std::make_shared<reg::MemoryRegistry>();
    if (const reg::Status read = readRegFileInto(QFile::encodeName(file).toStdString(), *scratch); !read.ok()) {
        QMessageBox::warning(this, QStringLiteral("Compare"), text(read.message()));
        return;
    }
    setSide(left, { QFileInfo(file).fileName(), scratch.get(), scratch }, (left ? m_left : m_right).key->text());
}

std::string CompareWindow::keyPathOf(const Side& side, std::string* problem) const {
    // Any form Go to path takes (HKCU\\..., [HKEY_...], Computer\\...), as the registry names it.
    const std::string typed = side.key->text().trimmed().toStdString();
    std::string path;
    if (typed.empty()) return {};
    if (const reg::Status parsed = parsePastedKeyPath(typed, path); !parsed.ok()) {
        if (problem && problem->empty()) *problem = typed + ": " + parsed.message();
        return {};
    }
    return path;
}

ImportPlan CompareWindow::planBetween(bool reverse, std::string* problem) {
    const Side& from = reverse ? m_right : m_left;
    const Side& to = reverse ? m_left : m_right;
    reg::RegStore* fromStore = storeOf(from);
    reg::RegStore* toStore = storeOf(to);
    if (!fromStore || !toStore) return {};
    std::string trouble;
    std::string fromPath = keyPathOf(from, &trouble);
    std::string toPath = keyPathOf(to, &trouble);
    if (!trouble.empty()) {
        // Never the whole registry for a path that could not be read.
        if (problem) *problem = trouble;
        return {};
    }
    if (fromPath.empty() && toPath.empty()) return compareStores(*fromStore, *toStore);
    if (fromPath.empty()) fromPath = toPath;
    if (toPath.empty()) toPath = fromPath;
    reg::KeyHandle fromKey(*fromStore);
    reg::KeyHandle toKey(*toStore);
    const bool fromThere = openKeyAtPath(*fromStore, fromPath, reg::Access::Read, reg::kOptionNone, fromKey).ok();
    const bool toThere = openKeyAtPath(*toStore, toPath, reg::Access::Read, reg::kOptionNone, toKey).ok();
    // A side that is not there is said, not taken for an empty key: a slip in a path would
    // otherwise list, and write, the other side's whole key as added or deleted.
    if (!fromThere || !toThere) {
        if (problem) *problem = (fromThere ? toPath : fromPath) + " is not there to compare.";
        return {};
    }
    return compareKeys(*fromStore, fromKey.get(), *toStore, toKey.get(), fromPath);
}

bool CompareWindow::shown(const RegChange& change) const {
    // With a wildcard the filter is an expression of the search's kind over the whole path
    // ("*\\Wine\\* AND NOT *Fonts*"); without one, text the path holds.
    const QString filter = m_filter->text();
    if (filter.isEmpty()) return true;
    if (filter.contains(QLatin1Char('*')) || filter.contains(QLatin1Char('?')))
        return JollyCheck(change.keyPath, filter.toStdString(), false);
    return shownText(change.keyPath).contains(filter, Qt::CaseInsensitive);
}

ImportPlan CompareWindow::shownPart(const ImportPlan& plan) const {
    // What the list shows is what Save and Make write: the filter narrows them as well.
    if (m_filter->text().isEmpty()) return plan;
    ImportPlan part;
    for (const RegChange& change : plan.changes)
        if (shown(change)) part.add(change);
    return part;
}

void CompareWindow::compare() {
    // A program may have changed a registry since its tab read it: each is read again first, as F5
    // would, so the comparison is of the registries as they are now.
    if (m_host.changed)
        for (const Side* side : { &m_left, &m_right })
            if (const int index = side->registry->currentIndex();
                index >= 0 && !m_sources[static_cast<std::size_t>(index)].owned)
                m_host.changed(*m_sources[static_cast<std::size_t>(index)].store);
    std::string problem;
    m_plan = planBetween(false, &problem);
    if (!problem.empty()) QMessageBox::warning(this, QStringLiteral("Compare"), text(problem));
    fill();
}

QString CompareWindow::summary() const {
    return summaryOf(shownPart(m_plan));
}

QString CompareWindow::summaryOf(const ImportPlan& plan) const {
    if (plan.empty())
        return m_filter->text().isEmpty() ? QStringLiteral("The two sides are the same.")
                                          : QStringLiteral("No difference on the paths the filter shows.");
    QStringList parts;
    if (plan.keysDeleted) parts << plural(plan.keysDeleted, "key only on the left", "keys only on the left");
    if (plan.keysAdded) parts << plural(plan.keysAdded, "key only on the right", "keys only on the right");
    if (plan.valuesDeleted) parts << plural(plan.valuesDeleted, "value only on the left", "values only on the left");
    if (plan.valuesAdded) parts << plural(plan.valuesAdded, "value only on the right", "values only on the right");
    if (plan.valuesChanged) parts << plural(plan.valuesChanged, "value changed", "values changed");
    return parts.join(QStringLiteral(", ")) + QLatin1Char('.');
}

void CompareWindow::fill() {
    m_list->clear();
    const ImportPlan part = shownPart(m_plan);
    m_counts->setText(summaryOf(part));
    std::map<std::string, QTreeWidgetItem*> keys; // the key items so far, by path
    QList<QTreeWidgetItem*> top;
    for (const RegChange& change : part.changes) {
        QTreeWidgetItem*& key = keys[change.keyPath];
        if (!key) {
            key = new QTreeWidgetItem(QStringList { shownText(change.keyPath) });
            key->setData(0, kPathRole, text(change.keyPath));
            top << key;
        }
        if (change.kind == RegChange::Kind::KeyAdded || change.kind == RegChange::Kind::KeyDeleted) {
            key->setText(1, differenceText(change.kind));
            continue;
        }
        const auto columns = previewColumns(change);
        auto* value
            = new QTreeWidgetItem(key, QStringList { columns[2], differenceText(change.kind), columns[3], columns[4] });
        value->setData(0, kPathRole, text(change.keyPath));
    }
    m_list->addTopLevelItems(top);
    m_list->expandAll();
    m_list->resizeColumnToContents(1);
    m_list->setColumnWidth(0, 380);
    if (!top.isEmpty()) m_list->setCurrentItem(top.front());
}

void CompareWindow::showSelected(bool left) {
    const QTreeWidgetItem* item = m_list->currentItem();
    if (!item || !m_host.showKey) return;
    std::string path = item->data(0, kPathRole).toString().toStdString();
    reg::RegStore* store = storeOf(left ? m_left : m_right);
    const std::string leftKey = keyPathOf(m_left);
    const std::string rightKey = keyPathOf(m_right);
    // The list names keys by the left side's paths; the right's may lie elsewhere.
    if (!left && !leftKey.empty() && !rightKey.empty() && path.starts_with(leftKey))
        path = rightKey + path.substr(leftKey.size());
    const int index = (left ? m_left : m_right).registry->currentIndex();
    if (index >= 0 && m_sources[static_cast<std::size_t>(index)].owned) {
        QMessageBox::information(this, QStringLiteral("Compare"),
            QStringLiteral("The %1 side is a file, which no tab shows.")
                .arg(left ? QStringLiteral("left") : QStringLiteral("right")));
        return;
    }
    if (store) m_host.showKey(*store, path);
}

reg::Status CompareWindow::saveChanges(const std::string& path, bool reverse) {
    std::string text;
    std::string problem;
    const ImportPlan plan = shownPart(planBetween(reverse, &problem));
    if (!problem.empty()) return { reg::Status::NotFound, problem };
    if (plan.empty()) return { reg::Status::NotFound, "The two sides are the same here: there is nothing to save." };
    if (reg::Status made = changesAsRegText(plan, text); !made.ok()) return made;
    return writeChangesFile(path, text);
}

void CompareWindow::makeRightLikeLeft() {
    reg::RegStore* right = storeOf(m_right);
    if (!right) return;
    std::string problem;
    const ImportPlan plan = shownPart(planBetween(true, &problem));
    if (!problem.empty()) {
        QMessageBox::warning(this, QStringLiteral("Compare"), text(problem));
        return;
    }
    if (plan.empty()) {
        QMessageBox::information(
            this, QStringLiteral("Compare"), QStringLiteral("The right side is like the left already."));
        return;
    }
    std::string lines;
    if (const reg::Status made = changesAsRegText(plan, lines); !made.ok()) {
        QMessageBox::warning(this, QStringLiteral("Compare"), text(made.message()));
        return;
    }
    RegFileContent content;
    (void)parseRegFile(lines, "compare", content);
    const QString readOnly = text(importReadOnlyReason(*right, content));
    PreviewWords words;
    words.title = QStringLiteral("Make %1 like the left");
    words.heading = QStringLiteral("Making %1 like the left makes these changes: %2");
    words.readOnly = QStringLiteral("The registry is read-only, so nothing can change: %1");
    words.button = QStringLiteral("&Make");
    ImportPreview preview(m_right.registry->currentText(), plan, readOnly, this, words);
    if (preview.exec() != QDialog::Accepted || !readOnly.isEmpty()) return;
    reg::WriteBatch batch(*right);
    reg::Status status = applyImport(*right, content);
    if (status.ok())
        status = batch.finish(
            { "changes from the compare window", plan.changes.front().keyPath, plan.changes.front().keyPath });
    else
        batch.abandon();
    if (!status.ok())
        QMessageBox::warning(
            this, QStringLiteral("Compare"), QStringLiteral("Nothing was changed:\n%1").arg(text(status.message())));
    if (m_host.changed) m_host.changed(*right);
    compare();
}

} // namespace quern
