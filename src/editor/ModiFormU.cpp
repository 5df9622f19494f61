#include "editor/ModiFormU.h"

#include "codec/NumberText.h"
#include "codec/RegData.h"
#include "codec/Utf.h"
#include "codec/ValueText.h"
#include "editor/BinGrid.h"
#include "editor/MultiStringPage.h"
#include "editor/NumberField.h"
#include "editor/QwordPage.h"
#include "registry/ChangeLabels.h"
#include "registry/RegU.h"
#include "store/KeyWalk.h"
#include "window/Preferences.h"
#include "window/QuernIcons.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

namespace quern {

namespace {

// The start of every message of a value that could not be written.
const QString kValueFailed = QStringLiteral("Error creating value: ");

bool within(const QWidget* widget, const QWidget* container) {
    return widget && container && (widget == container || container->isAncestorOf(widget));
}

std::string text8(const QString& text) {
    return text.toStdString();
}

DwordBase baseOfViewMode(int mode) {
    switch (mode) {
    case kDwordHex:
        return DwordBase::Hex;
    case kDwordBinary:
        return DwordBase::Binary;
    default:
        return DwordBase::Decimal;
    }
}

// Whether the byte grid shows hex cells, in preferences.ini.
constexpr const char* kHexCellsPreference = "ByteGridHex";

constexpr int kNamePanelHeight = 68;
constexpr int kButtonPanelHeight = 44;

} // namespace

TEditForm::TEditForm(reg::RegAccessor& registry, EditRequest& request, int dwordViewMode, QWidget* parent)
    : QDialog(parent)
    , m_registry(registry)
    , m_request(request)
    , m_dwordViewMode(dwordViewMode) {
    showMessage = [this](const QString& text) { QMessageBox::warning(this, QStringLiteral("Quern"), text); };
    confirm = [this](const QString& question) {
        return QMessageBox::question(this, QStringLiteral("Confirm"), question, QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::No;
    };
    buildControls();
    FormCreate();
    connect(qApp, &QApplication::focusChanged, this, &TEditForm::focusChanged);
}

TEditForm::~TEditForm() {
    disconnect(qApp, nullptr, this, nullptr);
}

void TEditForm::buildControls() {
    setObjectName(QStringLiteral("EditForm"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildNamePanel(*layout);
    buildValuePanel(*layout);
    buildButtonPanel(*layout);
    setTabOrder(EditName, PageControl);
    setTabOrder(PageControl, OKBtn);
    setTabOrder(OKBtn, CancelBTN);
    connectControls();
}

void TEditForm::buildNamePanel(QVBoxLayout& layout) {
    NamePanel = new QFrame(this);
    NamePanel->setFixedHeight(kNamePanelHeight);
    LabName = new QLabel(NamePanel);
    LabName->setGeometry(10, 9, 90, 19);
    EditName = new QLineEdit(NamePanel);
    EditName->setObjectName(QStringLiteral("EditName"));
    EditName->setGeometry(100, 6, 200, 24);
    PathPanel = new QFrame(NamePanel);
    PathPanel->setGeometry(0, 36, 300, 30);
    Lab1 = new QLabel(QStringLiteral("Value path :"), PathPanel);
    Lab1->setGeometry(10, 6, 90, 19);
    LabValuepath = new QLabel(PathPanel);
    QFont bold = LabValuepath->font();
    bold.setBold(true);
    LabValuepath->setFont(bold);
    LabValuepath->setGeometry(100, 6, 190, 19);
    layout.addWidget(NamePanel);
}

void TEditForm::buildValuePanel(QVBoxLayout& layout) {
    ValuePanel = new QFrame(this);
    auto* valueLayout = new QVBoxLayout(ValuePanel);
    valueLayout->setContentsMargins(6, 2, 6, 2);
    PageControl = new QTabWidget(ValuePanel);
    PageControl->setToolTip(QStringLiteral("Choose the new type for this value"));
    valueLayout->addWidget(PageControl);
    layout.addWidget(ValuePanel, 1);

    StringSheet = new QWidget;
    StringSheet->setToolTip(QStringLiteral("String type can contain characters"));
    EditString = new QLineEdit(StringSheet);
    EditString->setObjectName(QStringLiteral("EditString"));
    EditString->setGeometry(10, 20, 200, 24);
    EditString->setMaxLength(1 << 30);

    IntSheet = new QWidget;
    IntSheet->setToolTip(QStringLiteral("DWORD type must be a number"));
    EditInt = new QLineEdit(IntSheet);
    EditInt->setObjectName(QStringLiteral("EditInt"));
    EditInt->setGeometry(10, 20, 150, 24);
    IntTypeGroup = new QGroupBox(QStringLiteral("Input type"), IntSheet);
    IntTypeGroup->setGeometry(170, 10, 110, 96);
    IntBinary = new QRadioButton(QStringLiteral("Binary"), IntTypeGroup);
    IntBinary->setGeometry(10, 20, 95, 22);
    IntDecimal = new QRadioButton(QStringLiteral("Decimal"), IntTypeGroup);
    IntDecimal->setGeometry(10, 44, 95, 22);
    IntHex = new QRadioButton(QStringLiteral("Hex"), IntTypeGroup);
    IntHex->setGeometry(10, 68, 95, 22);

    buildBinarySheet();
    PageControl->addTab(StringSheet, quernIcon(QuernIcon::Strings), QStringLiteral("String type"));
    PageControl->addTab(IntSheet, quernIcon(QuernIcon::Dword), QStringLiteral("DWORD type"));
    PageControl->addTab(BinarySheet, quernIcon(QuernIcon::Binary), QStringLiteral("Binary type"));
    MultiSheet = new MultiStringPage;
    PageControl->addTab(MultiSheet, quernIcon(QuernIcon::Strings), QStringLiteral("Multi-string type"));
    QwordSheet = new QwordPage;
    PageControl->addTab(QwordSheet, quernIcon(QuernIcon::Dword), QStringLiteral("QWORD type"));
    // Made after the pages: the focus goes from the tabs through the page to OK, and a widget
    // made between them would end the tabs' part of that chain.
    KindLabel = new QLabel(ValuePanel);
    KindLabel->setObjectName(QStringLiteral("KindLabel"));
    KindLabel->setFixedHeight(KindLabel->fontMetrics().height() + 2);
    valueLayout->addWidget(KindLabel);
}

void TEditForm::buildBinarySheet() {
    BinarySheet = new QWidget;
    BinarySheet->setToolTip(QStringLiteral("Binary type is an enumeration of byte without rules"));
    auto* binLayout = new QVBoxLayout(BinarySheet);
    binLayout->setContentsMargins(4, 4, 4, 0);
    binLayout->setSpacing(2);
    BinHexCheck = new QCheckBox(QStringLiteral("&Hexadecimal cells"), BinarySheet);
    BinHexCheck->setObjectName(QStringLiteral("BinHexCheck"));
    BinHexCheck->setToolTip(QStringLiteral("Show and type the bytes of the grid in hex"));
    // A way of showing, not a field: Alt+H ticks it where the keyboard is, and Tab goes from the
    // tabs straight into the grid, as it always has.
    BinHexCheck->setFocusPolicy(Qt::NoFocus);
    binLayout->addWidget(BinHexCheck);
    BinGrid = new BinGridView(m_page, BinarySheet);
    BinGrid->setObjectName(QStringLiteral("BinGrid"));
    BinGrid->highlighted = [this](std::size_t byte) { return highlighted(byte); };
    binLayout->addWidget(BinGrid, 1);
    BinPanel = new QFrame(BinarySheet);
    BinPanel->setFixedHeight(34);
    BinPosLabel = new QLabel(QStringLiteral("00"), BinPanel);
    BinPosLabel->setObjectName(QStringLiteral("BinPosLabel"));
    BinPosLabel->setGeometry(4, 8, 56, 19);
    BinString = new BinLineEdit(BinPanel);
    BinString->setObjectName(QStringLiteral("BinString"));
    BinString->setGeometry(62, 3, 200, 28);
    binLayout->addWidget(BinPanel);
}

void TEditForm::buildButtonPanel(QVBoxLayout& layout) {
    ButtonPanel = new QFrame(this);
    ButtonPanel->setFixedHeight(kButtonPanelHeight);
    OKBtn = new QPushButton(QStringLiteral("OK"), ButtonPanel);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    OKBtn->setToolTip(QStringLiteral("Keep current changes"));
    OKBtn->setGeometry(0, 8, 90, 28);
    CancelBTN = new QPushButton(QStringLiteral("Cancel"), ButtonPanel);
    CancelBTN->setObjectName(QStringLiteral("CancelBTN"));
    CancelBTN->setToolTip(QStringLiteral("Discard current changes"));
    CancelBTN->setGeometry(0, 8, 90, 28);
    layout.addWidget(ButtonPanel);
}

void TEditForm::connectControls() {
    connect(EditName, &QLineEdit::textChanged, this, [this] { EditNameChange(); });
    connect(EditInt, &QLineEdit::textEdited, this, [this] { EditIntChange(); });
    for (auto [button, base] : { std::pair { IntBinary, DwordBase::Binary },
             std::pair { IntDecimal, DwordBase::Decimal }, std::pair { IntHex, DwordBase::Hex } })
        connect(button, &QRadioButton::toggled, this, [this, base = base](bool on) {
            if (!on) return;
            m_base = base;
            IntTypeGroupClick();
        });
    connect(PageControl, &QTabWidget::currentChanged, this, [this] {
        FormResize();
        updateKindLabel();
    });
    connect(BinHexCheck, &QCheckBox::toggled, this, &TEditForm::setHexCells);
    connect(OKBtn, &QPushButton::clicked, this, [this] {
        OKBtnClick();
        if (m_committed) accept();
    });
    connect(CancelBTN, &QPushButton::clicked, this, &QDialog::reject);
    connect(BinGrid, &BinGridView::cellTextEdited, this, &TEditForm::BinGridSetEditText);
    connect(BinGrid, &BinGridView::enterPressed, this, [this](std::size_t byte) {
        const std::size_t next = m_page.enterInCell(byte);
        BinGrid->gridModel().pageChanged();
        BinString->setText(m_page.line());
        BinGrid->setCurrentIndex(BinGrid->cellOf(next));
        BinGrid->scrollTo(BinGrid->currentIndex());
    });
    connect(BinString, &BinLineEdit::edited, this,
        [this](std::size_t position, std::size_t count, const std::string& bytes) {
            m_page.editLine(position, count, bytes);
        });
    EditName->installEventFilter(this);
    EditInt->installEventFilter(this);
    BinString->installEventFilter(this);
}

void TEditForm::FormCreate() {
    const bool value = m_request.IsValueEdit;
    const int minimumHeight = kNamePanelHeight + kButtonPanelHeight;
    setMinimumSize(332, minimumHeight);
    if (value) {
        setWindowTitle(m_request.IsNewItem ? QStringLiteral("Creating new value...")
                                           : QStringLiteral("Changing value properties..."));
        LabName->setText(QStringLiteral("Value name :"));
        resize(700, 380); // wide enough for the five pages' tabs
    } else {
        setWindowTitle(
            m_request.IsNewItem ? QStringLiteral("Creating new key...") : QStringLiteral("Changing key name..."));
        LabName->setText(QStringLiteral("Key name :"));
        setMaximumHeight(minimumHeight);
        resize(440, minimumHeight);
    }
    ValuePanel->setVisible(value);

    // The dialog works in the key it was given, opened here: never in whatever key the accessor
    // was left at. A registry that cannot be written still shows what it holds.
    if (!openKeyPath(m_registry, m_request.EditKeyPath, reg::Access::Full)) {
        m_readOnly = true;
        (void)openKeyPath(m_registry, m_request.EditKeyPath, reg::Access::Read);
    }
    if (m_readOnly) setWindowTitle(windowTitle() + QStringLiteral(" (read-only)"));

    EditName->setText(QString::fromStdString(m_request.EditItemName));
    EditNameChange();
    LabValuepath->setText(QString::fromStdString(m_request.EditKeyPath));
    LabValuepath->setToolTip(LabValuepath->text());
    IntDecimal->setChecked(true);
    PageControl->setCurrentWidget(IntSheet);
    m_focusBefore = EditName;
    if (value && !m_request.IsNewItem) loadValue();
    m_committed = false;
    setIntBase(baseOfViewMode(m_dwordViewMode));
    QwordSheet->setBase(baseOfViewMode(m_dwordViewMode));
    updateKindLabel();
}

void TEditForm::loadValue() {
    const std::string& name = m_request.EditItemName;
    std::size_t size = 0;
    (void)m_registry.getDataInfo(name, m_origKind, size);
    std::vector<std::uint8_t> raw;
    if (m_registry.store().queryValue(m_registry.currentKey(), reg::toUtf16(name), m_origType, raw) != reg::Status::Ok)
        m_origType = reg::kRegBinary;
    switch (m_origKind) {
    case reg::ValueKind::String:
    case reg::ValueKind::ExpandString:
        PageControl->setCurrentWidget(StringSheet);
        m_focusBefore = EditString;
        try {
            m_origString = m_registry.readString(name);
        } catch (const reg::RegError&) {
            m_origString.clear();
        }
        EditString->setText(QString::fromStdString(m_origString));
        break;
    case reg::ValueKind::Integer:
        PageControl->setCurrentWidget(IntSheet);
        m_focusBefore = EditInt;
        try {
            m_origDWord = static_cast<std::uint32_t>(m_registry.readInteger(name));
        } catch (const reg::RegError&) {
            m_origDWord = 0;
        }
        m_curDWord = m_origDWord;
        EditInt->setText(QString::fromStdString(dwordText(m_origDWord, m_base)));
        EditIntChange();
        break;
    case reg::ValueKind::Binary:
    case reg::ValueKind::Other:
        PageControl->setCurrentWidget(BinarySheet);
        m_focusBefore = BinString;
        m_origBytes.resize(size);
        try {
            m_origBytes.resize(m_registry.readBinaryData(name, m_origBytes.data(), m_origBytes.size()));
        } catch (const reg::RegError&) {
            m_origBytes.clear();
        }
        m_page.BinToGrid(m_origBytes);
        BinGrid->gridModel().pageChanged();
        BinString->setText(m_page.line());
        loadOwnPage(raw);
        break;
    }
}

void TEditForm::loadOwnPage(const std::vector<std::uint8_t>& raw) {
    // Multi-strings and QWORDs open on pages of their own; their bytes are on the binary page too,
    // where they can be changed as bytes and keep their type.
    QWidget* page = pageOfType(m_origType);
    if (page == MultiSheet) {
        MultiSheet->load(raw);
        m_focusBefore = MultiSheet->EditMulti;
    } else if (page == QwordSheet && raw.size() == 8) {
        m_origQword = codec::qwordFromBytes(raw);
        QwordSheet->setValue(*m_origQword);
        m_focusBefore = QwordSheet->EditQword;
    } else {
        return;
    }
    PageControl->setCurrentWidget(page);
}

QWidget* TEditForm::pageOfType(std::uint32_t type) const {
    switch (type) {
    case reg::kRegSz:
    case reg::kRegExpandSz:
        return StringSheet;
    case reg::kRegDword:
        return IntSheet;
    case reg::kRegMultiSz:
        return MultiSheet;
    case reg::kRegQword:
        return QwordSheet;
    default:
        return BinarySheet;
    }
}

std::uint32_t TEditForm::pageType() const {
    QWidget* page = PageControl->currentWidget();
    if (page == StringSheet) {
        // An expand string changed in place stays one: the programs that read it expand it.
        const bool expand
            = m_request.IsNewItem ? m_newType == reg::kRegExpandSz : m_origKind == reg::ValueKind::ExpandString;
        return expand ? reg::kRegExpandSz : reg::kRegSz;
    }
    if (page == IntSheet) return reg::kRegDword;
    if (page == MultiSheet) return reg::kRegMultiSz;
    if (page == QwordSheet) return reg::kRegQword;
    // The kinds that open with their bytes on this page keep their type.
    const bool asBytes = m_bytesKeepType || m_origKind == reg::ValueKind::Binary || m_origKind == reg::ValueKind::Other;
    return !m_request.IsNewItem && asBytes ? m_origType : reg::kRegBinary;
}

void TEditForm::updateKindLabel() {
    const std::uint32_t type = pageType();
    const bool says = m_request.IsValueEdit && (m_request.IsNewItem ? m_newType.has_value() : type != m_origType);
    KindLabel->setText(
        says ? QStringLiteral("Will be saved as ") + QString::fromStdString(codec::typeName(type)) : QString());
}

void TEditForm::openOnBinaryPage() {
    if (!m_request.IsValueEdit || m_request.IsNewItem) return;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> raw;
    const reg::Status read
        = m_registry.store().queryValue(m_registry.currentKey(), reg::toUtf16(m_request.EditItemName), type, raw);
    if (read != reg::Status::Ok) return;
    m_bytesKeepType = true;
    m_origType = type;
    m_origBytes = std::move(raw);
    m_page.BinToGrid(m_origBytes);
    BinGrid->gridModel().pageChanged();
    BinString->setText(m_page.line());
    PageControl->setCurrentWidget(BinarySheet);
    m_focusBefore = BinString;
    updateKindLabel();
}

void TEditForm::startNewValueAs(std::uint32_t type) {
    if (!m_request.IsValueEdit || !m_request.IsNewItem) return;
    m_newType = type;
    PageControl->setCurrentWidget(pageOfType(type));
    updateKindLabel();
}

void TEditForm::usePreferences(Preferences& preferences, std::function<void()> changed) {
    m_preferences = nullptr; // the box set from the preferences is no change of them
    BinHexCheck->setChecked(preferences.flag(kHexCellsPreference));
    m_preferences = &preferences;
    m_preferencesChanged = std::move(changed);
}

void TEditForm::setHexCells(bool hex) {
    m_page.setHexCells(hex);
    BinGrid->gridModel().pageChanged();
    if (!m_preferences) return;
    m_preferences->setFlag(kHexCellsPreference, hex);
    if (m_preferencesChanged) m_preferencesChanged();
}

void TEditForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    FormResize();
    if (m_focusBefore) m_focusBefore->setFocus();
}

void TEditForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
}

void TEditForm::FormResize() {
    PathPanel->setGeometry(0, 36, NamePanel->width(), 30);
    EditName->resize(NamePanel->width() - EditName->x() - 10, EditName->height());
    LabValuepath->resize(PathPanel->width() - LabValuepath->x() - 10, LabValuepath->height());
    // A deep path is shortened in its middle, so that both its root and the key itself show.
    LabValuepath->setText(LabValuepath->fontMetrics().elidedText(
        QString::fromStdString(m_request.EditKeyPath), Qt::ElideMiddle, LabValuepath->width()));
    const int half = ButtonPanel->width() / 2;
    CancelBTN->move(half - CancelBTN->width() - 20, CancelBTN->y());
    OKBtn->move(half + 20, OKBtn->y());
    QWidget* page = PageControl->currentWidget();
    if (!page || page->height() == 0) return;
    const int w = page->width();
    const int h = page->height();
    EditString->setGeometry(
        EditString->x(), h / 2 - EditString->height() / 2, w - EditString->x() - 10, EditString->height());
    IntTypeGroup->move(w - IntTypeGroup->width() - 10, h / 2 - IntTypeGroup->height() / 2);
    EditInt->setGeometry(
        EditInt->x(), h / 2 - EditInt->height() / 2, IntTypeGroup->x() - EditInt->x() - 10, EditInt->height());
    const int columnWidth = std::max(24, (BinGrid->viewport()->width() - 60) / 8);
    BinGrid->setColumnWidth(0, 60);
    for (int column = 1; column <= 8; ++column)
        BinGrid->setColumnWidth(column, columnWidth);
    BinString->resize(BinPanel->width() - BinString->x() - 10, BinString->height());
}

// --- The name ---

bool TEditForm::nameUnchanged() const {
    return text8(EditName->text()) == m_request.EditItemName;
}

void TEditForm::EditNameChange() {
    if (!m_request.IsValueEdit && EditName->text().contains(QLatin1Char('\\'))) {
        // Pasted text: a key name cannot hold a backslash.
        int caret = EditName->cursorPosition();
        QString text = EditName->text();
        caret -= static_cast<int>(text.left(caret).count(QLatin1Char('\\')));
        text.remove(QLatin1Char('\\'));
        EditName->setText(text); // runs this handler again, now without backslashes
        EditName->setCursorPosition(caret);
        return;
    }
    const std::string name = text8(EditName->text());
    bool enabled = false;
    if (!m_request.IsNewItem && reg::sameName(reg::toUtf16(name), reg::toUtf16(m_request.EditItemName)))
        enabled = true; // the item itself, perhaps with its letters in another case
    else if (m_request.IsValueEdit)
        enabled = !m_registry.valueExists(name); // the empty name too: the default value, once set, exists
    else if (!name.empty()) {
        const std::string below = pathBelowRoot(m_request.EditKeyPath);
        enabled = !m_registry.keyExists("\\" + (below.empty() ? name : below + "\\" + name));
    }
    OKBtn->setEnabled(enabled);
}

// --- The DWORD page ---

void TEditForm::setIntBase(DwordBase base) {
    QRadioButton* button = base == DwordBase::Binary ? IntBinary : base == DwordBase::Hex ? IntHex : IntDecimal;
    button->setChecked(true); // runs IntTypeGroupClick when it was not the selected one
}

void TEditForm::EditIntChange() {
    // A number that does not fit 32 bits is refused as a whole.
    if (const auto number = acceptNumberEdit(*EditInt, m_intText, m_base, parseDword)) m_curDWord = *number;
}

std::uint32_t TEditForm::GetDWValue() const {
    return parseDword(keepDwordDigits(EditInt->text().toLatin1().toStdString(), m_base), m_base).value_or(0);
}

void TEditForm::IntTypeGroupClick() {
    EditInt->setText(QString::fromStdString(dwordText(m_curDWord, m_base)));
    m_intText = EditInt->text();
    EditIntChange();
}

// --- The binary page ---

bool TEditForm::highlighted(std::size_t byte) const {
    if (m_binCaretPos == -1) return false;
    const auto start = static_cast<std::size_t>(BinString->selectionStart());
    return byte >= start && byte <= start + static_cast<std::size_t>(BinString->selectionLength());
}

void TEditForm::BinGridSetEditText(std::size_t byte, const QString& text) {
    BinPosLabel->setText(QStringLiteral("%1").arg(static_cast<qulonglong>(byte), 2, 16, QLatin1Char('0')).toUpper());
    m_page.setCellText(byte, text.toStdString());
    BinString->setText(m_page.line());
    BinGrid->viewport()->update();
}

void TEditForm::BinGridEnter() {
    const int p = std::clamp(BinString->cursorPosition(), 0, static_cast<int>(m_page.line().size()));
    m_binCaretPos = -1;
    BinGrid->setCurrentIndex(BinGrid->cellOf(static_cast<std::size_t>(p)));
    BinGrid->edit(BinGrid->currentIndex());
    BinGrid->viewport()->update();
}

void TEditForm::BinGridExit() {
    const QModelIndex current = BinGrid->currentIndex();
    m_binCaretPos = current.isValid() ? static_cast<int>(BinGridView::byteIndex(current)) : 0;
    BinGrid->viewport()->update();
}

void TEditForm::BinStringEnter() {
    BinString->setCursorPosition(std::max(0, m_binCaretPos));
    if (m_binCaretPos == -1) m_binCaretPos = BinString->cursorPosition();
    BinGrid->viewport()->update();
}

void TEditForm::StringToGrid() {
    // The page took each edit of the line as it was made; the grid shows them now, every zero
    // byte as 00 so that it is told from a blank.
    m_page.rebuildGrid();
    BinGrid->gridModel().pageChanged();
}

void TEditForm::UpdateCellSelection() {
    const int row = BinString->cursorPosition() / static_cast<int>(BinaryPage::kColumns);
    const int top = BinGrid->rowAt(0);
    int bottom = BinGrid->rowAt(BinGrid->viewport()->height() - 1);
    if (bottom < 0) bottom = BinGrid->model()->rowCount() - 1;
    if (row < top || row > bottom)
        BinGrid->scrollTo(BinGrid->gridModel().index(row, 1), QAbstractItemView::PositionAtTop);
    BinGrid->viewport()->update();
}

void TEditForm::focusChanged(QWidget* old, QWidget* now) {
    if (within(old, BinGrid) && !within(now, BinGrid)) BinGridExit();
    if (within(now, BinGrid) && !within(old, BinGrid)) BinGridEnter();
    if (now == BinString && old != BinString) BinStringEnter();
}

void TEditForm::BinStringKeyDown() {
    UpdateCellSelection();
}

void TEditForm::BinStringKeyUp() {
    StringToGrid();
    UpdateCellSelection();
}

void TEditForm::BinStringMouseUp() {
    // The highlight follows a selection made with the mouse; the grid does not scroll for it.
    BinGrid->viewport()->update();
}

bool TEditForm::EditNameKeyPress(const QKeyEvent& key) {
    return !m_request.IsValueEdit && key.text() == QStringLiteral("\\"); // a key name holds no backslash
}

bool TEditForm::EditIntKeyPress(const QKeyEvent& key) {
    // Only digits of the base go in; a Ctrl key's character is refused like any other.
    return refusesNumberKey(key, m_base, false);
}

bool TEditForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == BinString) {
        if (event->type() == QEvent::KeyPress) BinStringKeyDown();
        if (event->type() == QEvent::KeyRelease) BinStringKeyUp();
        if (event->type() == QEvent::MouseButtonRelease
            || (event->type() == QEvent::MouseMove && (static_cast<QMouseEvent*>(event)->buttons() & Qt::LeftButton)))
            BinStringMouseUp();
        return false;
    }
    if (event->type() != QEvent::KeyPress) return false;
    const auto& key = *static_cast<QKeyEvent*>(event);
    if (watched == EditName) return EditNameKeyPress(key);
    if (watched == EditInt) return EditIntKeyPress(key);
    return false;
}

// --- OK and closing ---

bool TEditForm::Modified() const {
    if (m_request.IsNewItem) return true;
    if (!m_request.IsValueEdit) return false; // a key rename changes only the name
    QWidget* page = PageControl->currentWidget();
    if (page == StringSheet)
        return (m_origKind != reg::ValueKind::String && m_origKind != reg::ValueKind::ExpandString)
            || text8(EditString->text()) != m_origString;
    if (page == IntSheet) return m_origKind != reg::ValueKind::Integer || m_curDWord != m_origDWord;
    if (page == MultiSheet) return m_origType != reg::kRegMultiSz || MultiSheet->changed();
    if (page == QwordSheet) return m_origQword != QwordSheet->value();
    if (!m_bytesKeepType
        && (m_origKind == reg::ValueKind::String || m_origKind == reg::ValueKind::ExpandString
            || m_origKind == reg::ValueKind::Integer))
        return true;
    return m_page.CompareBin(m_origBytes);
}

QString TEditForm::cannotWriteReason() const {
    const std::string reason = m_registry.store().readOnlyReason();
    return reason.empty() ? QStringLiteral("The key cannot be opened for writing.") : QString::fromStdString(reason);
}

void TEditForm::OKBtnClick() {
    const bool modified = Modified();
    if (!modified && nameUnchanged()) {
        m_committed = true; // nothing to write
        return;
    }
    if (m_readOnly) {
        showMessage(QStringLiteral("Nothing can be written here: ") + cannotWriteReason());
        return;
    }
    if (!m_request.IsValueEdit) {
        m_committed = m_request.IsNewItem ? createKey() : renameKey();
        return;
    }
    m_committed = writeValue();
}

bool TEditForm::writeValue() {
    const std::string name = text8(EditName->text());
    const std::string& oldName = m_request.EditItemName;
    const bool renamed = !m_request.IsNewItem && name != oldName;
    // The key is opened again for the write: the dialog writes where it was asked to, whatever
    // happened to the accessor since it opened.
    if (!openKeyPath(m_registry, m_request.EditKeyPath, reg::Access::Full)) {
        showMessage(kValueFailed + cannotWriteReason());
        return false;
    }
    if (!Modified()) return moveValue(oldName, name);
    std::uint32_t type = reg::kRegBinary;
    std::vector<std::uint8_t> bytes;
    if (!pageData(type, bytes)) return false;
    // The new data and the removal of the old name reach the disk together, or neither does: a
    // batch that is not finished takes its changes back.
    reg::RegStore& store = m_registry.store();
    reg::WriteBatch batch(store);
    // The old name goes first: names compare without regard to case, so a value renamed only in
    // the case of its letters would otherwise be written over and then deleted.
    if (renamed)
        if (const reg::Status status = store.deleteValue(m_registry.currentKey(), reg::toUtf16(oldName)); !status.ok())
            return finishWrite(batch, status, name);
    // Modify binary data puts the value's bytes as stored in the byte grid, whatever its type, and
    // they go back as they are; the pages otherwise hold strings as UTF-8 text, which the accessor
    // turns into the registry's UTF-16.
    if (m_bytesKeepType && PageControl->currentWidget() == BinarySheet)
        return finishWrite(batch, store.setValue(m_registry.currentKey(), reg::toUtf16(name), type, bytes), name);
    try {
        m_registry.writeRaw(name, type, bytes);
    } catch (const reg::RegError& error) {
        showMessage(kValueFailed + QString::fromStdString(error.what()));
        return false;
    }
    return finishWrite(batch, reg::Status(), name);
}

reg::ChangeLabel TEditForm::valueLabel(const std::string& name) const {
    return valueEditLabel(m_request.EditKeyPath, name, m_request.IsNewItem, m_request.EditItemName);
}

bool TEditForm::moveValue(const std::string& oldName, const std::string& name) {
    // Only the name changed: the value moves with its type and its bytes exactly as stored.
    reg::RegStore& store = m_registry.store();
    const reg::HKey key = m_registry.currentKey();
    std::uint32_t type = reg::kRegNone;
    std::vector<std::uint8_t> bytes;
    reg::WriteBatch batch(store);
    reg::Status status = store.queryValue(key, reg::toUtf16(oldName), type, bytes);
    // Deleted before the new name is set, as in writeValue: "Run" becomes "RUN" this way too.
    if (status.ok()) status = store.deleteValue(key, reg::toUtf16(oldName));
    if (status.ok()) status = store.setValue(key, reg::toUtf16(name), type, bytes);
    return finishWrite(batch, status, name);
}

bool TEditForm::finishWrite(reg::WriteBatch& batch, reg::Status status, const std::string& name) {
    // Only a batch that finishes reaches the disk; any other leaves the value as it was.
    if (status.ok()) status = batch.finish(valueLabel(name));
    if (!status.ok()) {
        showMessage(kValueFailed + QString::fromStdString(status.message()));
        return false;
    }
    m_request.EditItemName = name;
    return true;
}

bool TEditForm::pageData(std::uint32_t& type, std::vector<std::uint8_t>& bytes) {
    QWidget* page = PageControl->currentWidget();
    type = pageType();
    if (page == StringSheet) {
        const std::string text = text8(EditString->text());
        bytes.assign(text.begin(), text.end());
        bytes.push_back(0);
    } else if (page == IntSheet) {
        const auto number = codec::dwordBytes(m_curDWord);
        bytes.assign(number.begin(), number.end());
    } else if (page == QwordSheet) {
        const auto number = codec::qwordBytes(QwordSheet->value());
        bytes.assign(number.begin(), number.end());
    } else if (page == MultiSheet) {
        // The accessor takes strings as UTF-8 and keeps them as UTF-16; a lone surrogate goes
        // through in the three bytes of its code and comes back as the same unit.
        const std::vector<std::uint8_t> units = MultiSheet->data();
        const std::string text = reg::toUtf8(reg::unitsFromUtf16LE(units));
        bytes.assign(text.begin(), text.end());
    } else {
        try {
            bytes = m_page.GridToBin();
        } catch (const BinaryCellError& error) {
            showMessage(QString::fromStdString(error.what()));
            return false;
        }
    }
    return true;
}

std::string TEditForm::freeKeyName(const std::string& parent, const std::string& name) {
    // Short enough to stay a valid name, cut between two characters.
    std::size_t cut = std::min<std::size_t>(name.size(), 200);
    while (cut > 0 && cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    std::string free = name.substr(0, cut);
    free += '~';
    for (int n = 1; m_registry.keyExists(parent + free); ++n) {
        free = name.substr(0, cut);
        free += '~';
        free += std::to_string(n);
    }
    return free;
}

bool TEditForm::renameKey() {
    if (!openKeyPath(m_registry, m_request.EditKeyPath, reg::Access::Full)) {
        showMessage(QStringLiteral("Cannot rename the key: ") + cannotWriteReason());
        return false;
    }
    const std::string below = pathBelowRoot(m_request.EditKeyPath);
    const std::string parent = below.empty() ? "\\" : "\\" + below + "\\";
    const std::string name = text8(EditName->text());
    // The move's own batch runs inside this one, which names it for Undo.
    reg::WriteBatch batch(m_registry.store());
    bool moved = false;
    try {
        const std::string& oldName = m_request.EditItemName;
        if (reg::sameName(reg::toUtf16(name), reg::toUtf16(oldName))) {
            // Only the case of its letters changes: to the registry both are one name, so the key
            // passes through a free name of its own on the way, all in the one write.
            const std::string through = freeKeyName(parent, oldName);
            moved = m_registry.moveKey(parent + oldName, parent + through, true)
                && m_registry.moveKey(parent + through, parent + name, true);
        } else {
            (void)m_registry.moveKey(parent + oldName, parent + name, true);
            moved = m_registry.keyExists(parent + name);
        }
    } catch (const reg::RegError& error) {
        // The move is all or nothing: the old key is still whole where it was.
        showMessage(QStringLiteral("Cannot rename the key: ") + QString::fromStdString(error.what()));
        return false;
    }
    if (!moved) {
        showMessage(QStringLiteral("Cannot rename the key"));
        return false;
    }
    if (const reg::Status st = batch.finish(renameKeyLabel(m_request.EditKeyPath, m_request.EditItemName, name));
        !st.ok()) {
        showMessage(QStringLiteral("Cannot rename the key: ") + QString::fromStdString(st.message()));
        return false;
    }
    m_request.EditItemName = name;
    return true;
}

bool TEditForm::createKey() {
    const std::string name = text8(EditName->text());
    if (!openKeyPath(m_registry, m_request.EditKeyPath, reg::Access::Full)) {
        showMessage(QStringLiteral("Failed to create key ") + QString::fromStdString(name) + QStringLiteral(": ")
            + cannotWriteReason());
        return false;
    }
    reg::WriteBatch batch(m_registry.store());
    try {
        m_registry.createKey(name);
    } catch (const reg::RegError& error) {
        showMessage(QString::fromStdString(error.what()));
        return false;
    }
    if (const reg::Status st = batch.finish(newKeyLabel(m_request.EditKeyPath, name)); !st.ok()) {
        showMessage(QStringLiteral("Failed to create key ") + QString::fromStdString(name) + QStringLiteral(": ")
            + QString::fromStdString(st.message()));
        return false;
    }
    m_request.EditItemName = name;
    return true;
}

bool TEditForm::FormCloseQuery() {
    if (m_committed) return true;
    if (!Modified() && nameUnchanged()) return true;
    return confirm(QStringLiteral("Discard changes, are you sure ?"));
}

void TEditForm::done(int result) {
    if (!FormCloseQuery()) return;
    QDialog::done(result);
}

void TEditForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        reject(); // through the close test
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace quern
