#include "shell/RegistryTabs.h"

#include "discover/OpenRegistryDialog.h"
#include "registry/RegU.h"
#include "shell/QuernSettings.h"
#include "shell/QuernU.h"
#include "window/KeyTreeItem.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace quern {

namespace {

constexpr const char* kOpenRegistries = "OpenRegistries";
constexpr const char* kRecentRegistries = "RecentRegistries";
constexpr const char* kOpenRegistryKeys = "OpenRegistryKeys"; // the key each open tab stood on

std::vector<discover::RegistryPlace> placesIn(const Preferences& preferences, const char* name) {
    std::vector<discover::RegistryPlace> places;
    for (const std::string& line : preferences.list(name))
        if (auto place = discover::placeFromLine(line)) places.push_back(std::move(*place));
    return places;
}

void keepPlaces(Preferences& preferences, const char* name, const std::vector<discover::RegistryPlace>& places) {
    std::vector<std::string> lines;
    for (const auto& place : places)
        lines.push_back(discover::placeLine(place));
    preferences.setList(name, lines);
}

QString tabToolTip(const discover::RegistryPlace& place) {
    return (place.kind == discover::RegistryPlace::Kind::Prefix ? QStringLiteral("Wine prefix: ")
                                                                : QStringLiteral("Hive file: "))
        + QString::fromStdString(place.path);
}

// Which way a key moves between the tabs: Ctrl+Tab and Ctrl+PgDown to the next, Ctrl+Shift+Tab and
// Ctrl+PgUp to the one before; 0 for any other key.
int tabStep(const QKeyEvent& key) {
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::ControlModifier && (key.key() == Qt::Key_Tab || key.key() == Qt::Key_PageDown)) return 1;
    if (modifiers == Qt::ControlModifier && key.key() == Qt::Key_PageUp) return -1;
    if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier)
        && (key.key() == Qt::Key_Backtab || key.key() == Qt::Key_Tab))
        return -1;
    return 0;
}

} // namespace

RegistryTabs::RegistryTabs(QWidget* parent)
    : QWidget(parent)
    , chooseRegistry(chooseRegistryPlace)
    , m_preferences(quernPreferencesFileName()) {
    setWindowTitle(QStringLiteral("Quern - THE registry editor & backupper"));
    resize(780, 540);
    (void)m_preferences.load(); // the first form says what went wrong, from its own look at the file
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("RegistryTabs"));
    m_tabs->setDocumentMode(true); // no frame: one tab shows the form as the whole window
    m_tabs->setTabBarAutoHide(true);
    m_tabs->setTabsClosable(true);
    m_tabs->setMovable(true);
    m_tabs->tabBar()->setFocusPolicy(Qt::NoFocus);
    // A key dragged over a tab brings it to the front, to be dropped on a key of that registry.
    m_tabs->tabBar()->setChangeCurrentOnDrag(true);
    m_tabs->tabBar()->setAcceptDrops(true);
    layout->addWidget(m_tabs);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (index >= 0 && !m_starting) showTab(index);
        // A tab hidden while the window was resized lays its grid out again once it shows.
        if (TMainForm* shown = currentForm()) QTimer::singleShot(0, shown, [shown] { shown->applyDataColumnRule(); });
        updateTitle();
    });
    connect(m_tabs, &QTabWidget::tabCloseRequested, this, &RegistryTabs::closeTab);
    // Ctrl+Tab and the rest are taken before any widget of the tabs sees them (the tree and the
    // grid would use them for their own moves), so they work wherever the keyboard is.
    qApp->installEventFilter(this);
}

RegistryTabs::~RegistryTabs() {
    qApp->removeEventFilter(this);
    // The forms go before their registries, which the member list would otherwise free first.
    for (Tab& tab : m_tabList)
        destroyTab(tab);
}

void RegistryTabs::start(std::unique_ptr<reg::RegStore> store, const discover::RegistryPlace& place) {
    // The tab bar makes its first tab current as it comes; none opens its registry until all are there.
    m_starting = true;
    const std::vector<std::string> keys = m_preferences.list(kOpenRegistryKeys);
    std::size_t listed = 0;
    for (const discover::RegistryPlace& last : placesIn(m_preferences, kOpenRegistries)) {
        const std::string key = listed < keys.size() ? keys[listed] : std::string();
        ++listed;
        discover::RegistryPlace there;
        // A registry gone since (a game uninstalled, a disk not plugged in) does not come back.
        if (!discover::placeOfPath(last.path, there).ok() || there.kind != last.kind || findPlace(last) >= 0) continue;
        addTab(last, nullptr);
        m_tabList.back().keyPath = key;
    }
    int at = findPlace(place);
    if (at >= 0) {
        Tab& tab = *std::find_if(
            m_tabList.begin(), m_tabList.end(), [&](const Tab& t) { return t.page == m_tabs->widget(at); });
        tab.place.name = place.name; // the environment's registry keeps its own way of being named
        tab.store = std::move(store);
    } else {
        at = addTab(place, std::move(store), 0);
    }
    m_tabs->setTabText(at,
        QString::fromStdString(place.name.empty() ? discover::placeName(place, discover::processHome()) : place.name));
    setCurrentIndex(at);
    m_starting = false;
    showTab(at);
    if (!place.name.empty()) remember(place);
}

int RegistryTabs::count() const {
    return m_tabs->count();
}

int RegistryTabs::currentIndex() const {
    return m_tabs->currentIndex();
}

void RegistryTabs::setCurrentIndex(int index) {
    m_tabs->setCurrentIndex(index);
}

TMainForm* RegistryTabs::currentForm() const {
    return form(m_tabs->currentIndex());
}

TMainForm* RegistryTabs::form(int index) const {
    const int at = indexOfPage(m_tabs->widget(index));
    return at < 0 ? nullptr : m_tabList[static_cast<std::size_t>(at)].form;
}

const discover::RegistryPlace& RegistryTabs::place(int index) const {
    return m_tabList.at(static_cast<std::size_t>(indexOfPage(m_tabs->widget(index)))).place;
}

TMainForm* RegistryTabs::formOf(const reg::RegStore& store, bool toFront) {
    for (int index = 0; index < m_tabs->count(); ++index) {
        const int at = indexOfPage(m_tabs->widget(index));
        if (at >= 0 && m_tabList[static_cast<std::size_t>(at)].store.get() == &store) {
            if (toFront) setCurrentIndex(index);
            return m_tabList[static_cast<std::size_t>(at)].form;
        }
    }
    return nullptr;
}

int RegistryTabs::indexOfPage(const QWidget* page) const {
    for (std::size_t i = 0; i < m_tabList.size(); ++i)
        if (page && m_tabList[i].page == page) return static_cast<int>(i);
    return -1;
}

int RegistryTabs::findPlace(const discover::RegistryPlace& place) const {
    for (int index = 0; index < m_tabs->count(); ++index)
        if (discover::samePlace(this->place(index), place)) return index;
    return -1;
}

int RegistryTabs::addTab(const discover::RegistryPlace& place, std::unique_ptr<reg::RegStore> store, int at) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tabList.push_back({ place, std::move(store), page, nullptr, {} });
    const int index = m_tabs->insertTab(at < 0 ? m_tabs->count() : at, page, QString::fromStdString(place.name));
    m_tabs->setTabToolTip(index, tabToolTip(place));
    return index;
}

bool RegistryTabs::showTab(int index) {
    const int at = indexOfPage(m_tabs->widget(index));
    if (at < 0) return false;
    Tab& tab = m_tabList[static_cast<std::size_t>(at)];
    if (tab.form) return true;
    if (!tab.store) {
        std::string problem;
        tab.store = discover::openPlace(tab.place, problem);
        if (!tab.store) {
            // A tab of the last session whose hive cannot be read now: said, and the tab goes.
            QMessageBox::warning(this, QStringLiteral("Open registry"), QString::fromStdString(problem));
            QTimer::singleShot(0, this, [this, page = tab.page] {
                if (const int gone = m_tabs->indexOf(page); gone >= 0 && m_tabs->count() > 1) closeTab(gone);
            });
            return false;
        }
    }
    FormOptions options;
    options.registryName = QString::fromStdString(tab.place.name);
    options.sharedPreferences = &m_preferences;
    options.placesWindow = !m_placed;
    options.tabs.registries = [this] {
        std::vector<CompareSource> open;
        for (int tabIndex = 0; tabIndex < m_tabs->count(); ++tabIndex) {
            const int listed = indexOfPage(m_tabs->widget(tabIndex));
            if (listed >= 0 && m_tabList[static_cast<std::size_t>(listed)].store)
                open.push_back(
                    { m_tabs->tabText(tabIndex), m_tabList[static_cast<std::size_t>(listed)].store.get(), nullptr });
        }
        return open;
    };
    options.tabs.showKey = [this](reg::RegStore& store, const std::string& path) {
        if (TMainForm* shown = formOf(store, true)) shown->goToKeyPath(path);
    };
    options.tabs.changed = [this](reg::RegStore& store) {
        if (TMainForm* shown = formOf(store, false)) shown->RefreshMNUClick();
    };
    options.findRegistry = [this](const std::string& location) -> reg::RegStore* {
        for (const Tab& other : m_tabList)
            if (other.store && other.store->location() == location) return other.store.get();
        return nullptr;
    };
    m_placed = true;
    tab.form = new TMainForm(*tab.store, tab.page, std::move(options));
    tab.form->setKeepsSettings(false); // the window says which form writes them, when it closes
    tab.page->layout()->addWidget(tab.form);
    addFileItems(*tab.form);
    connect(tab.form, &QWidget::windowTitleChanged, this, [this] { updateTitle(); });
    if (isVisible()) {
        tab.form->show();
        tab.form->showNewLoadMessages(); // the start's own are told once the window shows
    }
    // A tab of the last session goes back to its own key; settings.ini keeps only the front one's.
    if (!tab.keyPath.empty()) tab.form->goToKeyPath(std::exchange(tab.keyPath, {}));
    updateTitle();
    return true;
}

bool RegistryTabs::openPlace(const discover::RegistryPlace& place) {
    // A registry gone since it was listed (a prefix deleted, a hive moved) is said, and forgotten.
    if (discover::RegistryPlace there; findPlace(place) < 0 && !discover::placeOfPath(place.path, there).ok()) {
        std::vector<discover::RegistryPlace> recent = placesIn(m_preferences, kRecentRegistries);
        std::erase_if(recent, [&](const discover::RegistryPlace& known) { return known.path == place.path; });
        keepPlaces(m_preferences, kRecentRegistries, recent);
        (void)m_preferences.save();
        QMessageBox::warning(this, QStringLiteral("Open registry"),
            QStringLiteral("%1 is not there any more, or is no registry:\n%2")
                .arg(QString::fromStdString(place.name), QString::fromStdString(place.path)));
        return false;
    }
    remember(place);
    if (const int at = findPlace(place); at >= 0) {
        setCurrentIndex(at);
        return true;
    }
    std::string problem;
    std::unique_ptr<reg::RegStore> store = discover::openPlace(place, problem);
    if (!store) {
        QMessageBox::warning(this, QStringLiteral("Open registry"), QString::fromStdString(problem));
        return false;
    }
    setCurrentIndex(addTab(place, std::move(store)));
    if (TMainForm* shown = currentForm()) shown->focusTree();
    return true;
}

void RegistryTabs::closeTab(int index) {
    if (m_tabs->count() <= 1) {
        close(); // as Exit: the question about a selection still asked there
        return;
    }
    const int at = indexOfPage(m_tabs->widget(index));
    if (at < 0) return;
    Tab& tab = m_tabList[static_cast<std::size_t>(at)];
    QWidget* page = tab.page;
    destroyTab(tab);
    m_tabs->removeTab(index);
    delete page;
    m_tabList.erase(m_tabList.begin() + at);
    if (TMainForm* shown = currentForm()) shown->focusTree();
}

void RegistryTabs::destroyTab(Tab& tab) {
    delete tab.form;
    tab.form = nullptr;
    tab.store.reset();
}

void RegistryTabs::stepTab(int by) {
    const int tabs = m_tabs->count();
    if (tabs < 2) return;
    setCurrentIndex((m_tabs->currentIndex() + by + tabs) % tabs);
    if (TMainForm* shown = currentForm()) shown->focusTree();
}

void RegistryTabs::updateTitle() {
    if (TMainForm* shown = currentForm()) setWindowTitle(shown->windowTitle());
}

void RegistryTabs::addFileItems(TMainForm& form) {
    QMenu* file = form.fileMenu();
    QAction* first = file->actions().value(0);
    auto* open = new QAction(QStringLiteral("&Open registry..."), file);
    open->setObjectName(QStringLiteral("OpenRegistryMNU"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    open->setStatusTip(QStringLiteral("Open the registry of another Wine prefix, or a hive file, in a tab of its own"));
    connect(open, &QAction::triggered, this, [this, &form] {
        if (const auto chosen = chooseRegistry(&form)) openPlace(*chosen);
    });
    auto* recent = new QMenu(QStringLiteral("Recent re&gistries"), file);
    recent->setObjectName(QStringLiteral("RecentRegistriesMNU"));
    connect(recent, &QMenu::aboutToShow, this, [this, recent] { fillRecentMenu(recent); });
    fillRecentMenu(recent); // so that the menu has items, and its keys work, before it is first opened
    auto* closeItem = new QAction(QStringLiteral("&Close tab"), file);
    closeItem->setObjectName(QStringLiteral("CloseTabMNU"));
    closeItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    closeItem->setStatusTip(QStringLiteral("Close this registry's tab; every change is written already"));
    // Queued: the item is the form's own, and the form goes with the tab.
    connect(
        closeItem, &QAction::triggered, this,
        [this, &form] {
            for (int index = 0; index < m_tabs->count(); ++index)
                if (this->form(index) == &form) return closeTab(index);
        },
        Qt::QueuedConnection);
    file->insertAction(first, open);
    file->insertMenu(first, recent);
    file->insertAction(first, closeItem);
    file->insertSeparator(first);
}

void RegistryTabs::fillRecentMenu(QMenu* menu) {
    menu->clear();
    const std::vector<discover::RegistryPlace> recent = placesIn(m_preferences, kRecentRegistries);
    for (std::size_t i = 0; i < recent.size(); ++i) {
        const discover::RegistryPlace& place = recent[i];
        QString caption = QString::fromStdString(place.name);
        caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
        if (i < 9) caption = QStringLiteral("&%1 ").arg(i + 1) + caption;
        QAction* item = menu->addAction(caption);
        item->setStatusTip(tabToolTip(place));
        connect(item, &QAction::triggered, this, [this, place] { openPlace(place); });
    }
    if (recent.empty()) menu->addAction(QStringLiteral("(none yet)"))->setEnabled(false);
}

void RegistryTabs::remember(const discover::RegistryPlace& place) {
    std::vector<discover::RegistryPlace> recent = placesIn(m_preferences, kRecentRegistries);
    discover::rememberPlace(recent, place);
    keepPlaces(m_preferences, kRecentRegistries, recent);
    (void)m_preferences.save(); // at once, as every preference: a crash keeps it
}

void RegistryTabs::keepOpenTabs() {
    std::vector<discover::RegistryPlace> open;
    std::vector<std::string> keys;
    for (int index = 0; index < m_tabs->count(); ++index) {
        open.push_back(place(index));
        const Tab& tab = m_tabList[static_cast<std::size_t>(indexOfPage(m_tabs->widget(index)))];
        keys.push_back(tab.form ? keyPathOfNode(tab.form->currentNode()) : tab.keyPath);
    }
    keepPlaces(m_preferences, kOpenRegistries, open);
    m_preferences.setList(kOpenRegistryKeys, keys);
    (void)m_preferences.save();
}

bool RegistryTabs::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this || QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return false;
    const int by = tabStep(*static_cast<QKeyEvent*>(event));
    if (by == 0) return false;
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept(); // the key press is ours, not a shortcut's
        return true;
    }
    stepTab(by);
    return true;
}

void RegistryTabs::closeEvent(QCloseEvent* event) {
    // One question, from the tab in front when it has a selection, else from the first that has one.
    std::vector<TMainForm*> forms;
    if (TMainForm* shown = currentForm()) forms.push_back(shown);
    for (int index = 0; index < m_tabs->count(); ++index)
        if (TMainForm* other = form(index); other && other != currentForm()) forms.push_back(other);
    for (TMainForm* candidate : forms) {
        if (!candidate->hasSelectionShown()) continue;
        if (!candidate->confirmExit()) {
            event->ignore();
            return;
        }
        break;
    }
    keepOpenTabs();
    // settings.ini is the tab in front's: its tree width, path and view modes, and the window's
    // place. It writes them as it goes, with the window (the close may come from inside it).
    if (TMainForm* shown = currentForm()) shown->setKeepsSettings(true);
    event->accept();
}

} // namespace quern
