#include "shell/HiveCommands.h"

#include "codec/Utf.h"
#include "hive/OfflineHive.h"
#include "registry/HiveMount.h"
#include "registry/RegU.h"
#include "shell/QuernU.h"
#include "store/KeyWalk.h"
#include "window/KeyTreeItem.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>

namespace quern {

namespace {

reg::MemoryRegistry* mountable(reg::RegStore& store) {
    return dynamic_cast<reg::MemoryRegistry*>(&store);
}

QString rootName(reg::HKey at) {
    return at == reg::kUsers ? QStringLiteral("HKEY_USERS") : QStringLiteral("HKEY_LOCAL_MACHINE");
}

// Asks for the key a hive is loaded as, as the system's editor does: a name, and the root.
class HiveNameDialog : public QDialog {
public:
    HiveNameDialog(QWidget* parent, const QString& file)
        : QDialog(parent) {
        setWindowTitle(QStringLiteral("Load hive"));
        auto* layout = new QFormLayout(this);
        auto* fileLabel = new QLineEdit(QDir::toNativeSeparators(file), this);
        fileLabel->setReadOnly(true);
        layout->addRow(QStringLiteral("Hive file:"), fileLabel);
        m_name = new QLineEdit(QFileInfo(file).fileName().section(QLatin1Char('.'), 0, 0).toUpper(), this);
        m_name->setObjectName(QStringLiteral("HiveNameEdit"));
        layout->addRow(QStringLiteral("&Key name:"), m_name);
        m_root = new QComboBox(this);
        m_root->setObjectName(QStringLiteral("HiveRootBox"));
        m_root->addItem(rootName(reg::kLocalMachine));
        m_root->addItem(rootName(reg::kUsers));
        layout->addRow(QStringLiteral("&Load under:"), m_root);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        layout->addRow(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    }
    [[nodiscard]] QString name() const { return m_name->text().trimmed(); }
    void selectName() {
        m_name->setFocus();
        m_name->selectAll();
    }
    [[nodiscard]] reg::HKey root() const { return m_root->currentIndex() == 1 ? reg::kUsers : reg::kLocalMachine; }

private:
    QLineEdit* m_name = nullptr;
    QComboBox* m_root = nullptr;
};

void tell(TMainForm& form, const QString& title, const std::string& message) {
    QMessageBox::warning(&form, title, QString::fromStdString(message));
}

} // namespace

void loadHiveFile(TMainForm& form) {
    reg::MemoryRegistry* registry = mountable(form.store());
    if (!registry) return tell(form, QStringLiteral("Load hive"), "This registry cannot load hive files.");
    // The hive last loaded, else where a Windows disk is usually mounted, else home: hive files
    // have no extension for the dialog to go by.
    static QString lastHive;
    QString start = lastHive;
    if (start.isEmpty()) start = QDir(QStringLiteral("/mnt")).isEmpty() ? QDir::homePath() : QStringLiteral("/mnt");
    QFileDialog dialog(&form, QStringLiteral("Load hive"), start, QStringLiteral("Registry hives (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QString file = form.fileDialogs.run(dialog);
    if (file.isEmpty()) return;
    lastHive = file;
    HiveNameDialog ask(&form, file);
    for (;;) {
        if (ask.exec() != QDialog::Accepted || ask.name().isEmpty()) return;
        // A name that cannot be had is asked for again in the same dialog, the file still in it:
        // the user chose the file with care and only needs another name.
        const std::string typed = ask.name().toStdString();
        const std::u16string name = reg::toUtf16(typed);
        reg::KeyHandle taken(*registry);
        std::string quoted(1, '"');
        quoted += typed;
        quoted += '"';
        if (name.find(u'\\') != std::u16string::npos)
            tell(form, QStringLiteral("Cannot load hive"), quoted + " is not a valid key name.");
        else if (registry->openKey(ask.root(), name, reg::Access::Read, reg::kOpenLink, taken.out()).ok())
            tell(form, QStringLiteral("Cannot load hive"), "There is already a key named " + quoted + " there.");
        else
            break;
        ask.selectName();
    }
    const reg::Status mounted
        = reg::mountHiveFile(*registry, ask.root(), reg::toUtf16(ask.name().toStdString()), file.toStdString());
    if (!mounted.ok()) return tell(form, QStringLiteral("Cannot load hive"), mounted.message());
    form.RefreshMNUClick();
    form.goToKeyPath((rootName(ask.root()) + QLatin1Char('\\') + ask.name()).toStdString());
}

void unloadSelectedHive(TMainForm& form) {
    reg::MemoryRegistry* registry = mountable(form.store());
    const QStringList parts = QString::fromStdString(keyPathOfNode(form.currentNode())).split(QLatin1Char('\\'));
    const reg::HKey at = parts.value(0) == rootName(reg::kUsers) ? reg::kUsers : reg::kLocalMachine;
    const bool underRoot
        = parts.size() >= 2 && (parts[0] == rootName(reg::kUsers) || parts[0] == rootName(reg::kLocalMachine));
    const reg::Status unmounted = registry && underRoot ? registry->unmount(at, reg::toUtf16(parts[1].toStdString()))
                                                        : reg::Status(reg::Status::NotFound);
    if (unmounted == reg::Status::NotFound)
        return tell(form, QStringLiteral("Unload hive"),
            "The selected key is in no loaded hive. Select a hive's key, or a key inside it, to unload it.");
    if (!unmounted.ok()) return tell(form, QStringLiteral("Cannot unload hive"), unmounted.message());
    form.RefreshMNUClick();
}

QStringList mountStartupHives(reg::RegStore& store, const QStringList& arguments) {
    QStringList problems;
    reg::MemoryRegistry* registry = mountable(store);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] != QStringLiteral("--hive")) continue;
        HiveMount mount;
        const reg::Status parsed = i + 1 < arguments.size()
            ? parseHiveMount(arguments[++i].toStdString(), mount)
            : reg::Status(reg::Status::BadPath, "--hive needs NAME=FILE.");
        if (!parsed.ok()) {
            problems << QString::fromStdString(parsed.message());
            continue;
        }
        const reg::Status mounted = registry
            ? reg::mountHiveFile(*registry, mount.at, reg::toUtf16(mount.name), mount.file)
            : reg::Status(reg::Status::AccessDenied, "This registry cannot load hive files.");
        if (!mounted.ok()) problems << QString::fromStdString(mounted.message());
    }
    return problems;
}

std::vector<ElidedLabel::Part> hiveStatusParts(reg::RegStore& store) {
    std::vector<ElidedLabel::Part> parts;
    reg::MemoryRegistry* registry = mountable(store);
    if (!registry) return parts;
    for (const auto& part : registry->mountedParts()) {
        parts.push_back({ QStringLiteral("; ") + rootName(part->mountedAt) + QLatin1Char('\\')
                + QString::fromStdString(reg::toUtf8(part->root->name)) + QStringLiteral(": "),
            false });
        parts.push_back({ QString::fromStdString(part->location()), true });
        if (const std::string backup = part->backupLocation(); !backup.empty()) {
            parts.push_back({ QStringLiteral(" (as it was: "), false });
            parts.push_back({ QString::fromStdString(backup), true });
            parts.push_back({ QStringLiteral(")"), false });
        }
    }
    return parts;
}

bool hivesLoaded(reg::RegStore& store) {
    reg::MemoryRegistry* registry = mountable(store);
    return registry && !registry->mountedParts().empty();
}

} // namespace quern
