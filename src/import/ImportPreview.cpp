#include "import/ImportPreview.h"

#include "codec/RegData.h"
#include "codec/Utf.h"
#include "codec/ValueText.h"
#include "export/RegExport.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace quern {

namespace {

QString dataText(std::uint32_t type, const std::vector<std::uint8_t>& data) {
    // Line breaks in string data would make one row two lines high; their pictures keep it one.
    return QString::fromStdString(shownKeyPath(codec::typeName(type) + " " + queryText(type, data)));
}

QString kindText(RegChange::Kind kind) {
    switch (kind) {
    case RegChange::Kind::KeyAdded:
        return QStringLiteral("Key added");
    case RegChange::Kind::KeyDeleted:
        return QStringLiteral("Key deleted, with all below it");
    case RegChange::Kind::ValueAdded:
        return QStringLiteral("Value added");
    case RegChange::Kind::ValueChanged:
        return QStringLiteral("Value changed");
    case RegChange::Kind::ValueDeleted:
        return QStringLiteral("Value deleted");
    }
    return {};
}

} // namespace

std::array<QString, 5> previewColumns(const RegChange& change) {
    std::array<QString, 5> columns;
    columns[0] = kindText(change.kind);
    columns[1] = QString::fromStdString(shownKeyPath(change.keyPath));
    const bool value = change.kind != RegChange::Kind::KeyAdded && change.kind != RegChange::Kind::KeyDeleted;
    if (!value) return columns;
    columns[2] = change.valueName.empty() ? QStringLiteral("(Default)")
                                          : QString::fromStdString(shownKeyPath(reg::toUtf8(change.valueName)));
    if (change.kind != RegChange::Kind::ValueAdded) columns[3] = dataText(change.oldType, change.oldData);
    if (change.kind != RegChange::Kind::ValueDeleted) columns[4] = dataText(change.newType, change.newData);
    return columns;
}

ImportPreview::ImportPreview(const QString& fileName, const ImportPlan& plan, const QString& readOnlyReason,
    QWidget* parent, const PreviewWords& words)
    : QDialog(parent) {
    setWindowTitle(words.title.arg(fileName));
    m_summary = QString::fromStdString(planSummary(plan));
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(words.heading.arg(fileName, m_summary), this);
    heading->setWordWrap(true);
    layout->addWidget(heading);
    if (!readOnlyReason.isEmpty()) {
        auto* notice = new QLabel(words.readOnly.arg(readOnlyReason), this);
        notice->setWordWrap(true);
        notice->setObjectName(QStringLiteral("ReadOnlyNotice"));
        layout->addWidget(notice);
    }

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("ImportChanges"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true); // a whole hive may be thousands of rows
    m_list->setTextElideMode(Qt::ElideMiddle); // a long path keeps its root and its last key in view
    m_list->setHeaderLabels({ QStringLiteral("Change"), QStringLiteral("Key"), QStringLiteral("Value"),
        QStringLiteral("Old data"), QStringLiteral("New data") });
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(plan.changes.size()));
    for (const RegChange& change : plan.changes) {
        const auto columns = previewColumns(change);
        items.push_back(new QTreeWidgetItem(QStringList(columns.begin(), columns.end())));
    }
    m_list->addTopLevelItems(items);
    for (int column = 0; column < 5; ++column)
        m_list->resizeColumnToContents(column);
    m_list->setColumnWidth(1, qMin(m_list->columnWidth(1), 420)); // long paths must not push the data away
    if (!items.isEmpty()) m_list->setCurrentItem(items.front());
    layout->addWidget(m_list, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(words.button);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(900, 480);
    m_list->setFocus();
}

QString ImportPreview::summary() const {
    return m_summary;
}

} // namespace quern
