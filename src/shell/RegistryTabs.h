#pragma once

#include "discover/RegistryPlace.h"
#include "store/RegStore.h"
#include "window/Preferences.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTabWidget;

namespace quern {

class TMainForm;

// The program's window: one tab per open registry, each a whole main form of its own (tree, grid,
// path, marks, undo, read-only state, locks), so that every command works in each as it does
// alone. With one tab the tab bar hides and the window is the form. A tab made from the list of the
// last session opens its registry when first shown; the open tabs are kept in preferences.ini
// ("OpenRegistries") and come back at the next start, as do the recent ones ("RecentRegistries").
class RegistryTabs final : public QWidget {
    Q_OBJECT

public:
    explicit RegistryTabs(QWidget* parent = nullptr);
    ~RegistryTabs() override;

    // Opens the tabs of the last session, then the start registry, which the program has opened
    // already (with its --hive mounts), in front. An empty place name: the registry chosen by the
    // environment, named in the title and the status bar as it always was.
    void start(std::unique_ptr<reg::RegStore> store, const discover::RegistryPlace& place);
    // Brings the registry's tab to the front, or opens it in a new one; false, having said why,
    // when it cannot be opened.
    bool openPlace(const discover::RegistryPlace& place);
    // Closes a tab without asking (every change is written already); the last one closes the window.
    void closeTab(int index);

    [[nodiscard]] int count() const;
    [[nodiscard]] int currentIndex() const;
    void setCurrentIndex(int index);
    [[nodiscard]] TMainForm* currentForm() const;
    [[nodiscard]] TMainForm* form(int index) const; // null for a tab not shown yet
    [[nodiscard]] const discover::RegistryPlace& place(int index) const;
    [[nodiscard]] Preferences& preferences() { return m_preferences; }

    // File > Open registry...: the registry chosen, or nothing. It shows the list; tests answer it.
    std::function<std::optional<discover::RegistryPlace>(QWidget* parent)> chooseRegistry;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Tab {
        discover::RegistryPlace place;
        std::unique_ptr<reg::RegStore> store;
        QWidget* page = nullptr;
        TMainForm* form = nullptr;
        std::string keyPath; // where a tab of the last session stood, until it is shown
    };

    int indexOfPage(const QWidget* page) const;
    TMainForm* formOf(const reg::RegStore& store, bool toFront); // toFront: its tab in front
    int findPlace(const discover::RegistryPlace& place) const;
    int addTab(const discover::RegistryPlace& place, std::unique_ptr<reg::RegStore> store, int at = -1);
    bool showTab(int index);
    void addFileItems(TMainForm& form);
    void fillRecentMenu(QMenu* menu);
    void remember(const discover::RegistryPlace& place);
    void keepOpenTabs();
    void destroyTab(Tab& tab);
    void stepTab(int by);
    void updateTitle();

    Preferences m_preferences;
    QTabWidget* m_tabs = nullptr;
    std::vector<Tab> m_tabList; // in the order the tab bar had when they were opened
    bool m_starting = false; // start() lays out the tabs, none shown yet
    bool m_placed = false; // the first form has given the window its stored placement
};

} // namespace quern
