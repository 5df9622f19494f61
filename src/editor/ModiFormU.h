#pragma once

#include "editor/BinaryPage.h"
#include "editor/DwordText.h"
#include "registry/RegAccessor.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QVBoxLayout;

namespace quern {

class BinGridView;
class BinLineEdit;
class MultiStringPage;
class Preferences;
class QwordPage;

// What a command asks of the editor dialog, and what it reads back after OK.
struct EditRequest {
    bool IsValueEdit = true; // a value; otherwise a key
    bool IsNewItem = false; // created; otherwise an existing one changed
    std::string EditKeyPath; // the key that holds the value, or the parent of the key
    std::string EditItemName; // the item's name on entry; after OK, the name it now has
};

// The dialog through which values are created and changed (name, kind and data) and keys are
// created and renamed. It opens the key it works in itself, by the request's key path, and
// writes on OK through one batch, so a change reaches the disk whole or not at all; a value that
// cannot be written keeps its old data, and the dialog says why. Nothing is written when nothing
// changed.
//
// A value keeps its kind unless the user picks another page: an expand string changed on the
// string page stays an expand string, and a multi-string, a QWORD or any other kind changed on
// the binary page keeps its type. Picking another page is how the kind is changed, and a label
// under the pages says so before OK ("Will be saved as REG_DWORD"); for a new value made as a
// given type it names the type it will have.
//
// Beside the string, DWORD and binary pages, multi-strings have a page of their own (one string a
// line) and so have QWORDs (a 64-bit number in the DWORD page's three bases). The byte grid shows
// decimal cells, or hex cells once the user ticks its box, which preferences.ini remembers.
class TEditForm final : public QDialog {
    Q_OBJECT

public:
    // dwordViewMode is the main window's DWORD display mode (hex, decimal or binary), whose base
    // the DWORD page starts in.
    TEditForm(reg::RegAccessor& registry, EditRequest& request, int dwordViewMode, QWidget* parent = nullptr);
    ~TEditForm() override;

    QFrame* NamePanel = nullptr;
    QLabel* LabName = nullptr;
    QLineEdit* EditName = nullptr;
    QFrame* PathPanel = nullptr;
    QLabel* Lab1 = nullptr;
    QLabel* LabValuepath = nullptr;
    QFrame* ValuePanel = nullptr;
    QTabWidget* PageControl = nullptr;
    QWidget* StringSheet = nullptr;
    QLineEdit* EditString = nullptr;
    QWidget* IntSheet = nullptr;
    QLineEdit* EditInt = nullptr;
    QGroupBox* IntTypeGroup = nullptr;
    QRadioButton* IntBinary = nullptr;
    QRadioButton* IntDecimal = nullptr;
    QRadioButton* IntHex = nullptr;
    QWidget* BinarySheet = nullptr;
    QCheckBox* BinHexCheck = nullptr;
    BinGridView* BinGrid = nullptr;
    QFrame* BinPanel = nullptr;
    QLabel* BinPosLabel = nullptr;
    BinLineEdit* BinString = nullptr;
    QFrame* ButtonPanel = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBTN = nullptr;
    MultiStringPage* MultiSheet = nullptr;
    QwordPage* QwordSheet = nullptr;
    QLabel* KindLabel = nullptr; // the type the value will be saved as, when the page changes it

    // For a new value: the type it is made as, whose page the dialog shows (an expand string on
    // the string page). Without it New opens on the DWORD page.
    void startNewValueAs(std::uint32_t type);
    // Modify binary data: an existing value of any type opens with its stored bytes on the binary
    // page, and keeps its type whatever the bytes become.
    void openOnBinaryPage();

    // Where the byte grid's base is kept between showings: its box starts as the preferences have
    // it, and changed() runs after each change of it.
    void usePreferences(Preferences& preferences, std::function<void()> changed);

    // The dialog's state, as the tests look at it.
    [[nodiscard]] bool committed() const { return m_committed; }
    [[nodiscard]] std::uint32_t curDWord() const { return m_curDWord; }
    [[nodiscard]] BinaryPage& binaryPage() { return m_page; }
    [[nodiscard]] int binCaretPos() const { return m_binCaretPos; }
    [[nodiscard]] DwordBase intBase() const { return m_base; }
    void setIntBase(DwordBase base); // as a click on its radio item
    // The type OK writes from the active page.
    [[nodiscard]] std::uint32_t pageType() const;

    // The handlers.
    void FormResize();
    void EditNameChange();
    void EditIntChange();
    [[nodiscard]] std::uint32_t GetDWValue() const;
    void IntTypeGroupClick();
    [[nodiscard]] bool Modified() const;
    void OKBtnClick();
    bool FormCloseQuery();
    void BinGridSetEditText(std::size_t byteIndex, const QString& text);
    void BinGridEnter();
    void BinGridExit();
    void BinStringEnter();
    void StringToGrid();
    void UpdateCellSelection();
    void BinStringKeyDown();
    void BinStringKeyUp();
    void BinStringMouseUp();
    // True when the key is refused.
    bool EditNameKeyPress(const QKeyEvent& key);
    bool EditIntKeyPress(const QKeyEvent& key);

    // Message boxes: shown to the user by default; tests answer them.
    std::function<void(const QString& text)> showMessage;
    std::function<bool(const QString& question)> confirm;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildNamePanel(QVBoxLayout& layout);
    // The pages, and under them the label that names a type the page changes.
    void buildValuePanel(QVBoxLayout& layout);
    void buildBinarySheet();
    void buildButtonPanel(QVBoxLayout& layout);
    void connectControls();
    void FormCreate();
    void loadValue();
    bool writeValue();
    // Gives the value a new name with its type and bytes as stored.
    bool moveValue(const std::string& oldName, const std::string& name);
    // Ends a value's write: finishes the batch when status is Ok, tells the user why not otherwise.
    bool finishWrite(reg::WriteBatch& batch, reg::Status status, const std::string& name);
    // How Undo names the value's write, once the value is called name.
    [[nodiscard]] reg::ChangeLabel valueLabel(const std::string& name) const;
    // The type and bytes the active page holds; false, told to the user, when a cell does not convert.
    bool pageData(std::uint32_t& type, std::vector<std::uint8_t>& bytes);
    bool renameKey();
    // A name no subkey of parent (a path ending in a backslash) has, made from name.
    [[nodiscard]] std::string freeKeyName(const std::string& parent, const std::string& name);
    bool createKey();
    [[nodiscard]] bool nameUnchanged() const;
    void loadOwnPage(const std::vector<std::uint8_t>& raw);
    // The page the value's stored type, or the type asked for a new one, opens on.
    [[nodiscard]] QWidget* pageOfType(std::uint32_t type) const;
    void updateKindLabel();
    void setHexCells(bool hex);
    void focusChanged(QWidget* old, QWidget* now);
    [[nodiscard]] bool highlighted(std::size_t byteIndex) const;
    [[nodiscard]] QString cannotWriteReason() const;

    reg::RegAccessor& m_registry;
    EditRequest& m_request;
    int m_dwordViewMode;

    reg::ValueKind m_origKind = reg::ValueKind::Other;
    std::uint32_t m_origType = reg::kRegBinary; // the stored type number, kept when the kind is
    std::string m_origString;
    std::uint32_t m_origDWord = 0;
    std::optional<std::uint64_t> m_origQword; // a stored QWORD of 8 bytes, shown on its page
    std::vector<std::uint8_t> m_origBytes; // the stored bytes of the binary page
    std::uint32_t m_curDWord = 0;
    DwordBase m_base = DwordBase::Decimal;
    QString m_intText; // the DWORD field's last accepted text
    bool m_committed = false;
    bool m_readOnly = false;
    bool m_closing = false;
    BinaryPage m_page;
    int m_binCaretPos = 0;
    QWidget* m_focusBefore = nullptr;
    std::optional<std::uint32_t> m_newType;
    bool m_bytesKeepType = false; // openOnBinaryPage
    Preferences* m_preferences = nullptr;
    std::function<void()> m_preferencesChanged;
};

} // namespace quern
