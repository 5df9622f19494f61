#include "navigate/FavouriteCommands.h"

#include "navigate/FavouriteList.h"
#include "navigate/PathCommands.h"
#include "registry/RegU.h"
#include "window/CommandWindow.h"
#include "window/KeyTreeItem.h"
#include "window/Preferences.h"

#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>

namespace quern {

namespace {

// The favourites as kept on disk now: another window may have changed them since this one read.
std::vector<Favourite> currentFavourites(CommandWindow& window) {
    (void)window.preferences().load(); // a file that cannot be read keeps the set empty and unwritten
    return readFavourites(window.preferences());
}

void keep(CommandWindow& window, const std::vector<Favourite>& favourites) {
    writeFavourites(window.preferences(), favourites);
    window.preferencesChanged();
}

} // namespace

void runAddFavourite(CommandWindow& window) {
    window.flushTreeChange();
    const std::string path = keyPathOfNode(window.currentNode());
    if (path.empty()) return; // the top node names no key
    std::vector<Favourite> favourites = currentFavourites(window);
    QString name = shownText(defaultFavouriteName(path));
    for (;;) {
        bool accepted = false;
        name = QInputDialog::getText(window.widget(), QStringLiteral("Add to favourites"),
            QStringLiteral("Favourite name for %1:").arg(shownText(shownKeyPath(path))), QLineEdit::Normal, name,
            &accepted)
                   .trimmed();
        if (!accepted) return;
        if (!name.isEmpty()) break;
    }
    if (const auto taken = findFavourite(favourites, rawText(name))) {
        const auto answer = QMessageBox::question(window.widget(), QStringLiteral("Add to favourites"),
            QStringLiteral("The favourite \"%1\" goes to %2.\nMake it go to %3 instead?")
                .arg(shownText(favourites[*taken].name), shownText(shownKeyPath(favourites[*taken].path)),
                    shownText(shownKeyPath(path))),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) return;
    }
    putFavourite(favourites, { rawText(name), path });
    keep(window, favourites);
}

void runRemoveFavourite(CommandWindow& window) {
    std::vector<Favourite> favourites = currentFavourites(window);
    if (favourites.empty()) {
        QMessageBox::information(
            window.widget(), QStringLiteral("Remove favourite"), QStringLiteral("There are no favourites."));
        return;
    }
    QStringList names;
    for (const Favourite& favourite : favourites)
        names << shownText(favourite.name);
    bool accepted = false;
    const QString name = QInputDialog::getItem(window.widget(), QStringLiteral("Remove favourite"),
        QStringLiteral("Favourite to remove:"), names, 0, false, &accepted);
    if (!accepted) return;
    const auto index = findFavourite(favourites, rawText(name));
    if (!index) return;
    favourites.erase(favourites.begin() + static_cast<std::ptrdiff_t>(*index));
    keep(window, favourites);
}

void fillFavouritesMenu(CommandWindow& window, QMenu& menu) {
    menu.clear();
    QAction* add = menu.addAction(QStringLiteral("&Add to favourites..."));
    add->setObjectName(QStringLiteral("AddFavouriteMNU"));
    add->setStatusTip(QStringLiteral("Keep the selected key in this menu"));
    QObject::connect(add, &QAction::triggered, &menu, [&window] { runAddFavourite(window); });
    QAction* remove = menu.addAction(QStringLiteral("&Remove favourite..."));
    remove->setObjectName(QStringLiteral("RemoveFavouriteMNU"));
    remove->setStatusTip(QStringLiteral("Take a key out of this menu"));
    QObject::connect(remove, &QAction::triggered, &menu, [&window] { runRemoveFavourite(window); });
    const std::vector<Favourite> favourites = currentFavourites(window);
    remove->setEnabled(!favourites.empty());
    if (!favourites.empty()) menu.addSeparator();
    for (const Favourite& favourite : favourites) {
        // An ampersand in a name is the user's, not a menu letter.
        QAction* item = menu.addAction(shownText(favourite.name).replace(QLatin1Char('&'), QStringLiteral("&&")));
        item->setStatusTip(shownText(shownKeyPath(favourite.path)));
        const std::string path = favourite.path;
        QObject::connect(item, &QAction::triggered, &menu, [&window, path] {
            window.focusTree();
            (void)goToFoundPath(window, path);
        });
    }
}

} // namespace quern
