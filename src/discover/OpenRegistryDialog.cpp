#include "discover/OpenRegistryDialog.h"

#include "window/FileDialogs.h"

#include <QApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>

namespace quern {

namespace {

enum Column { kName, kKind, kFolder, kSize, kLastChange, kInUse, kColumns };

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QString lastChangeText(std::chrono::system_clock::time_point when) {
    if (when == std::chrono::system_clock::time_point {}) return {};
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch()).count();
    return QLocale().toString(QDateTime::fromSecsSinceEpoch(seconds), QLocale::ShortFormat);
}

QString inUseText(const discover::FoundRegistry& registry) {
    if (!registry.held) return {};
    const std::string holders = discover::holdersSentence(registry);
    return holders.empty() ? QStringLiteral("Yes") : QStringLiteral("Yes: ") + text(holders);
}

} // namespace

OpenRegistryDialog::OpenRegistryDialog(discover::Discovery found, QWidget* parent)
    : QDialog(parent)
    , runFileDialog(FileDialogs::exec)
    , m_found(std::move(found)) {
    setWindowTitle(QStringLiteral("Open registry"));
    auto* layout = new QVBoxLayout(this);
    m_filter = new QLineEdit(this);
    m_filter->setObjectName(QStringLiteral("RegistryFilter"));
    m_filter->setPlaceholderText(QStringLiteral("Type part of a name or folder to narrow the list"));
    m_filter->setClearButtonEnabled(true);
    layout->addWidget(m_filter);
    m_table = new QTableWidget(0, kColumns, this);
    m_table->setObjectName(QStringLiteral("RegistryTable"));
    m_table->setHorizontalHeaderLabels({ QStringLiteral("Name"), QStringLiteral("Kind"), QStringLiteral("Folder"),
        QStringLiteral("Size"), QStringLiteral("Last change"), QStringLiteral("In use by Wine") });
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->setWordWrap(false); // a long folder is cut, and shows whole in its tooltip
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table, 1);
    m_notes = new QLabel(this);
    m_notes->setObjectName(QStringLiteral("RegistryNotes"));
    layout->addWidget(m_notes);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* open = buttons->addButton(QStringLiteral("&Open"), QDialogButtonBox::AcceptRole);
    QPushButton* folder = buttons->addButton(QStringLiteral("Browse &folder..."), QDialogButtonBox::ActionRole);
    QPushButton* hive = buttons->addButton(QStringLiteral("Browse &hive file..."), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    open->setDefault(true);
    layout->addWidget(buttons);
    connect(open, &QPushButton::clicked, this, [this] { openRow(m_table->currentRow()); });
    connect(folder, &QPushButton::clicked, this, [this] { browse(true); });
    connect(hive, &QPushButton::clicked, this, [this] { browse(false); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { openRow(row); });
    connect(m_filter, &QLineEdit::textChanged, this, &OpenRegistryDialog::applyFilter);

    fillTable();
    resize(900, 420);
    // Typing narrows the list at once; Up and Down move in it, Enter opens the row chosen.
    m_filter->installEventFilter(this);
    m_filter->setFocus();
}

void OpenRegistryDialog::fillTable() {
    const auto& registries = m_found.registries;
    m_table->setRowCount(static_cast<int>(registries.size()));
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const discover::FoundRegistry& registry = registries[static_cast<std::size_t>(row)];
        QString name = text(registry.name);
        for (const std::string& other : registry.alsoNamed)
            name += QStringLiteral(", ") + text(other);
        const QString cells[kColumns] = { name, text(std::string(discover::kindName(registry.kind))),
            text(registry.folder), QLocale().formattedDataSize(static_cast<qint64>(registry.size)),
            lastChangeText(registry.lastChange), inUseText(registry) };
        for (int column = 0; column < kColumns; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setToolTip(cells[column]);
            if (column == kSize) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(row, column, item);
        }
    }
    m_table->resizeColumnsToContents();
    m_table->setColumnWidth(kFolder, std::min(m_table->columnWidth(kFolder), 360));
    if (m_table->rowCount() > 0) m_table->selectRow(0);
    QString notes;
    for (const discover::DiscoveryNote& note : m_found.notes)
        notes += text(note.path) + QStringLiteral(": ") + text(note.problem) + QLatin1Char('\n');
    const QString count = m_table->rowCount() == 1 ? QStringLiteral("1 registry found")
                                                   : QStringLiteral("%1 registries found").arg(m_table->rowCount());
    m_allText = m_found.notes.empty()
        ? count + QLatin1Char('.')
        : count + QStringLiteral("; %1 passed over (point here to see why).").arg(m_found.notes.size());
    m_notes->setText(m_allText);
    m_notes->setToolTip(notes.trimmed());
}

void OpenRegistryDialog::applyFilter(const QString& filter) {
    int firstShown = -1;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const bool shown = filter.isEmpty() || m_table->item(row, kName)->text().contains(filter, Qt::CaseInsensitive)
            || m_table->item(row, kFolder)->text().contains(filter, Qt::CaseInsensitive);
        m_table->setRowHidden(row, !shown);
        if (shown && firstShown < 0) firstShown = row;
    }
    int shown = 0;
    for (int row = 0; row < m_table->rowCount(); ++row)
        shown += m_table->isRowHidden(row) ? 0 : 1;
    m_notes->setText(
        filter.isEmpty() ? m_allText : QStringLiteral("%1 of %2 shown.").arg(shown).arg(m_table->rowCount()));
    if (m_table->currentRow() < 0 || m_table->isRowHidden(m_table->currentRow())) {
        if (firstShown >= 0)
            m_table->selectRow(firstShown);
        else
            m_table->clearSelection();
    }
}

bool OpenRegistryDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_filter || event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Up && key != Qt::Key_Down && key != Qt::Key_PageUp && key != Qt::Key_PageDown) return false;
    QApplication::sendEvent(m_table, event); // the list moves; the filter keeps the keyboard
    return true;
}

void OpenRegistryDialog::openRow(int row) {
    if (row < 0 || row >= m_table->rowCount() || m_table->isRowHidden(row)) return;
    const discover::FoundRegistry& registry = m_found.registries[static_cast<std::size_t>(row)];
    m_chosen = { discover::RegistryPlace::Kind::Prefix, registry.folder, registry.name };
    accept();
}

void OpenRegistryDialog::browse(bool forFolder) {
    QFileDialog dialog(
        this, forFolder ? QStringLiteral("Open a Wine prefix's folder") : QStringLiteral("Open a hive file"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(forFolder ? QFileDialog::Directory : QFileDialog::ExistingFile);
    if (forFolder) dialog.setOption(QFileDialog::ShowDirsOnly);
    const QString path = runFileDialog(dialog);
    if (path.isEmpty()) return;
    discover::RegistryPlace place;
    if (const reg::Status found = discover::placeOfPath(path.toStdString(), place); !found.ok()) {
        QMessageBox::warning(this, QStringLiteral("Open registry"), text(found.message()));
        return;
    }
    m_chosen = std::move(place);
    accept();
}

std::optional<discover::RegistryPlace> chooseRegistryPlace(QWidget* parent) {
    OpenRegistryDialog dialog(
        discover::discoverRegistries(discover::processHome(), discover::processEnvironment()), parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.chosen();
}

} // namespace quern
