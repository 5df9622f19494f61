#include "MainWindowFixture.h"
#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "search/FindU.h"
#include "search/SearchCommands.h"
#include "search/SearchEngine.h"
#include "search/SearchHitsPane.h"
#include "search/SearchingU.h"
#include "shell/QuernU.h"
#include "store/KeyWalk.h"
#include "window/KeyTreeItem.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace quern;
using namespace quern::test;

namespace {

// A registry of its own with a few keys and values to find.
struct Fixture : test::MainWindowFixture {
    Fixture() {
        set(u"Software\\Vendor\\App", u"alpha", reg::kRegSz, { 'n', 0, 'e', 0, 'e', 0, 'd', 0, 0, 0 });
        set(u"Software\\Vendor\\App", u"beta", reg::kRegSz, { 'x', 0, 0, 0 });
        set(u"Software\\Vendor\\App", u"gamma", reg::kRegSz, { 'n', 0, 'e', 0, 'e', 0, 'd', 0, 0, 0 });
        set(u"Software\\Vendor\\Needle", u"v", reg::kRegSz, { 0, 0 });
    }
};

// Runs something once the next modal dialog of type T is up.
template<class T> void whenModal(std::function<void(T&)> act) {
    QTimer::singleShot(0, [act] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) act(*dialog);
    });
}

// Answers every message box once it is up, and notes what it said, for as long as timer runs: a
// failing test cannot hang on one.
void answerMessages(QTimer& timer, QStringList& said) {
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&said] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            said.push_back(box->text());
            box->button(QMessageBox::Ok)->click();
        }
    });
    timer.start();
}

QString position(TMainForm& form) {
    QString path = PathEdit(form)->text();
    if (form.focusWidget() == KeyGrid(form))
        path += QStringLiteral("\\\\") + form.cellText(0, KeyGrid(form)->currentIndex().row() + 1).mid(1);
    return path;
}

} // namespace

class SearchWindowTest : public QObject {
    Q_OBJECT
    test::SeparateSettings m_settings;

private slots:
    void init() { m_settings.next(); }

    void theFindDialogStoresOnlyWhatItIsConfirmedWith() {
        SearchState state;
        {
            TFindForm dialog(state);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QVERIFY(dialog.EditFind->text().isEmpty());
            QVERIFY(dialog.KeyCheck->isChecked() && dialog.ValueCheck->isChecked() && dialog.DataCheck->isChecked());
            QVERIFY(!dialog.FindBTN->isEnabled());
            QTest::keyClicks(dialog.EditFind, QStringLiteral("  "));
            QVERIFY2(dialog.FindBTN->isEnabled(), "spaces are an expression");
            for (QCheckBox* box : { dialog.KeyCheck, dialog.ValueCheck, dialog.DataCheck })
                box->click();
            QVERIFY(!dialog.FindBTN->isEnabled() && !dialog.FindAllBTN->isEnabled());
            QTest::keyClick(dialog.EditFind, Qt::Key_Return);
            QVERIFY2(dialog.result() != QDialog::Accepted, "Enter does nothing while Find is disabled");
            dialog.DataCheck->click();
            QVERIFY(dialog.FindBTN->isEnabled());
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        QVERIFY2(state.expression.empty() && state.SearchKeys, "Escape stores nothing");
        {
            TFindForm dialog(state);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QTest::keyClicks(dialog.EditFind, QStringLiteral(" a* "));
            dialog.KeyCheck->click();
            QTest::keyClick(dialog.EditFind, Qt::Key_Return);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QCOMPARE(state.expression, std::string(" a* "));
        QVERIFY(!state.SearchKeys && state.SearchValueNames && state.SearchData);
        TFindForm again(state);
        QCOMPARE(again.EditFind->text(), QStringLiteral(" a* "));
        QVERIFY(!again.KeyCheck->isChecked());
    }

    // F3 steps from match to match from wherever the focus is; the end is said, and moves nothing.
    void searchAgainStepsFromTheFocusToEachMatch() {
        Fixture f;
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        bool asked = false;
        whenModal<TFindForm>([&](TFindForm& dialog) {
            asked = true;
            dialog.reject();
        });
        QTest::keyClick(TreeView(form), Qt::Key_F3);
        QVERIFY2(asked, "Search again without an expression opens the Find dialog");
        QApplication::setActiveWindow(&form); // offscreen, nothing does it after a dialog

        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor"));
        TreeView(form)->setFocus();
        whenModal<TFindForm>([](TFindForm& dialog) {
            dialog.EditFind->setText(QStringLiteral("need*"));
            dialog.FindBTN->click();
        });
        QTest::keyClick(TreeView(form), Qt::Key_F, Qt::ControlModifier);
        const QString app = QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\App");
        QCOMPARE(position(form), app + QStringLiteral("\\\\alpha"));
        QVERIFY(form.isEnabled());
        // Offscreen, nothing gives the window back its activation after the wait window; a desktop does.
        QStringList said;
        auto searchAgain = [&] {
            QApplication::setActiveWindow(&form);
            QTimer answer;
            answerMessages(answer, said);
            QTest::keyClick(form.focusWidget(), Qt::Key_F3);
        };
        searchAgain();
        QCOMPARE(position(form), app + QStringLiteral("\\\\gamma"));
        searchAgain();
        QCOMPARE(position(form), QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\Needle"));
        QCOMPARE(form.focusWidget(), TreeView(form));
        // The same keys under HKEY_USERS, then the end.
        for (int i = 0; i < 3; ++i)
            searchAgain();
        QCOMPARE(position(form), QStringLiteral("HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Vendor\\Needle"));
        QVERIFY(said.isEmpty());
        searchAgain();
        QCOMPARE(said, QStringList { QStringLiteral("No more matches found") });
        QCOMPARE(position(form), QStringLiteral("HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Vendor\\Needle"));
    }

    // After the last match, Search again keeps saying so from the value it stands on: the focus
    // stays in the grid through the wait window and the message, so the search never starts over
    // from the key and finds that last match again.
    void searchAgainPastTheLastValueKeepsSayingSo() {
        Fixture f;
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor"));
        form.flushTreeChange();
        TreeView(form)->setFocus();
        form.searchState().expression = "gamma";
        QStringList said;
        QTimer answer;
        answerMessages(answer, said);
        const auto searchAgain = [&] {
            QApplication::setActiveWindow(&form);
            QTest::keyClick(form.focusWidget(), Qt::Key_F3);
        };
        searchAgain();
        searchAgain();
        const QString last = QStringLiteral("HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Vendor\\App\\\\gamma");
        QCOMPARE(position(form), last);
        QVERIFY(said.isEmpty());
        for (int time = 1; time <= 3; ++time) {
            searchAgain();
            QCOMPARE(said.size(), time);
            QCOMPARE(form.focusWidget(), KeyGrid(form));
            QCOMPARE(position(form), last);
        }

        // From a key the same holds in the tree.
        form.searchState().expression = "Needle";
        said.clear();
        searchAgain();
        QCOMPARE(position(form), QStringLiteral("HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Vendor\\Needle"));
        QVERIFY(said.isEmpty());
        searchAgain();
        searchAgain();
        QCOMPARE(said.size(), 2);
        QCOMPARE(form.focusWidget(), TreeView(form));
    }

    // Closing the wait window stops the walk: no message, and the tree and grid stay.
    void cancellingLeavesTheWindowAsItWas() {
        Fixture f;
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software"));
        form.flushTreeChange();
        form.searchState().expression = "need*";
        bool waited = false;
        QTimer::singleShot(0, [&] {
            TWaitForm* wait = nullptr;
            for (QWidget* window : QApplication::topLevelWidgets())
                if (auto* found = qobject_cast<TWaitForm*>(window); found && found->isVisible()) wait = found;
            if (!wait) return;
            waited = wait->isVisible() && !form.isEnabled()
                && wait->windowTitle() == QStringLiteral("Looking for: \"need*\"");
            QTest::keyClick(wait, Qt::Key_Q); // any character key
        });
        form.SearchAgainMNUClick();
        QVERIFY(waited);
        QVERIFY(form.searchState().SearchCancelled);
        QVERIFY(form.isEnabled());
        QCOMPARE(position(form), QStringLiteral("HKEY_CURRENT_USER\\Software"));
        QVERIFY(!QApplication::activeModalWidget());
    }

    // Find all lists each hit once, in the walk's order, from the whole registry wherever the
    // user stands; Enter on one goes to it.
    void findAllListsEveryHit() {
        Fixture f;
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        QVERIFY(!form.hitsPane().isVisible());
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\Needle"));
        TreeView(form)->setFocus();
        whenModal<TFindForm>([](TFindForm& dialog) {
            dialog.EditFind->setText(QStringLiteral("need*"));
            dialog.FindAllBTN->click();
        });
        // The list is filled a few rows at a time during the walk: its model keeps the rules views rely on.
        QAbstractItemModelTester hitRules(
            form.hitsPane().List->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        form.SearchMNUClick();
        SearchHitsPane& pane = form.hitsPane();
        QVERIFY(pane.isVisible());
        const std::string app = "HKEY_CURRENT_USER\\Software\\Vendor\\App";
        std::vector<std::string> hits;
        for (int row = 0; row < pane.hitCount(); ++row)
            hits.push_back(pane.hitAt(row));
        QCOMPARE(hits,
            (std::vector<std::string> {
                app + "\\\\alpha", app + "\\\\gamma", "HKEY_CURRENT_USER\\Software\\Vendor\\Needle" }));
        QVERIFY(pane.title().contains(QStringLiteral("whole registry")));
        const QAbstractItemModel* model = pane.List->model();
        QCOMPARE(model->index(0, 0).data().toString(), QString::fromStdString(app));
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("alpha"));
        QCOMPARE(model->index(0, 2).data().toString(), QStringLiteral("\"need\""));
        pane.List->setCurrentIndex(model->index(1, 0));
        QTest::keyClick(pane.List, Qt::Key_Return);
        QCOMPARE(position(form), QString::fromStdString(app) + QStringLiteral("\\\\gamma"));
    }

    // The list of hits: a filter by the matcher, sorting by a header, hits gone since greyed
    // once the list is refreshed, the saved file byte for byte, marking into the selection, and
    // the whole path in a tooltip only where the column cuts it off.
    void theHitsPaneFiltersSortsSavesAndMarks() {
        Fixture f;
        f.set(u"Software\\Vendor\\Zeta", u"", reg::kRegSz, { 'e', 0, 0, 0 });
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\Zeta"));
        form.searchState().expression = "*e*";
        SearchHitsPane& pane = form.hitsPane();
        runFindAll(form, form.searchState(), pane);
        auto rows = [&] {
            QStringList shown;
            for (int row = 0; row < pane.hitCount(); ++row)
                shown.push_back(QString::fromStdString(pane.hitAt(row)));
            return shown;
        };
        auto column = [&](int at) {
            QStringList shown;
            for (int row = 0; row < pane.hitCount(); ++row)
                shown.push_back(pane.List->model()->index(row, at).data().toString());
            return shown;
        };
        const QString v = QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor");
        const QString app = v + QLatin1String("\\App\\\\");
        QCOMPARE(rows().mid(0, 8),
            (QStringList { QStringLiteral("HKEY_CURRENT_USER\\Software"), v, app + QLatin1String("alpha"),
                app + QLatin1String("beta"), app + QLatin1String("gamma"), v + QLatin1String("\\Needle"),
                v + QLatin1String("\\Zeta"), v + QLatin1String("\\Zeta\\\\") }));
        const int total = pane.hitCount();

        // The filter takes the matcher's expressions, on the path with a value's name after a backslash.
        QTest::keyClicks(pane.Filter, QStringLiteral("*\\Vendor\\* AND NOT *Zeta*"));
        QTRY_COMPARE(rows(),
            (QStringList { app + QLatin1String("alpha"), app + QLatin1String("beta"), app + QLatin1String("gamma"),
                v + QLatin1String("\\Needle") }));
        pane.Filter->clear();
        QTRY_COMPARE(pane.hitCount(), total);
        pane.Filter->setText(QStringLiteral("*\\Vendor*"));
        QTRY_COMPARE(pane.hitCount(), 7);

        // A header sorts, ascending then descending; by value, the keys come first.
        QHeaderView* header = pane.List->horizontalHeader();
        const auto clickHeader = [&](int section) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                QPoint(header->sectionViewportPosition(section) + 5, header->height() / 2));
        };
        clickHeader(1);
        QCOMPARE(column(1),
            (QStringList { {}, {}, {}, QStringLiteral("(Default)"), QStringLiteral("alpha"), QStringLiteral("beta"),
                QStringLiteral("gamma") }));
        QCOMPARE(column(0).mid(0, 3), (QStringList { v, v + QLatin1String("\\Needle"), v + QLatin1String("\\Zeta") }));
        clickHeader(1);
        QCOMPARE(column(1).front(), QStringLiteral("gamma"));
        clickHeader(0);
        QCOMPARE(rows(),
            (QStringList { v, app + QLatin1String("alpha"), app + QLatin1String("beta"), app + QLatin1String("gamma"),
                v + QLatin1String("\\Needle"), v + QLatin1String("\\Zeta"), v + QLatin1String("\\Zeta\\\\") }));

        // Gone since: shown so once the list is refreshed, greyed and said in the data column.
        {
            reg::KeyHandle key(*f.store);
            QCOMPARE(f.store->openKey(
                         reg::kCurrentUser, u"Software\\Vendor\\App", reg::Access::Full, reg::kOptionNone, key.out()),
                reg::Status::Ok);
            QCOMPARE(f.store->deleteValue(key.get(), u"beta"), reg::Status::Ok);
        }
        QCOMPARE(reg::deleteKeyTree(*f.store, reg::kCurrentUser, u"Software\\Vendor\\Needle"), reg::Status::Ok);
        form.RefreshMNUClick();
        const QAbstractItemModel* model = pane.List->model();
        QCOMPARE(column(2),
            (QStringList { {}, QStringLiteral("\"need\""), QStringLiteral("(deleted)"), QStringLiteral("\"need\""),
                QStringLiteral("(deleted)"), {}, QStringLiteral("\"e\"") }));
        QVERIFY(model->index(2, 0).data(Qt::ForegroundRole).isValid());
        QVERIFY(!model->index(1, 0).data(Qt::ForegroundRole).isValid());

        // Saved as the list shows it, byte for byte.
        const std::string file = f.dir / "hits.txt";
        f.answerFileDialogs([&] { return QString::fromStdString(file); });
        QTest::mouseClick(pane.SaveBtn, Qt::LeftButton);
        const std::string u = "HKEY_CURRENT_USER\\Software\\Vendor";
        QCOMPARE(test::readFile(file),
            u + "\n" + u + "\\App\talpha\t\"need\"\n" + u + "\\App\tbeta\t(deleted)\n" + u + "\\App\tgamma\t\"need\"\n"
                + u + "\\Needle\t\t(deleted)\n" + u + "\\Zeta\n" + u + "\\Zeta\t(Default)\t\"e\"\n");

        // Marked: the keys alone and the values not under them, those gone left out.
        QTest::mouseClick(pane.MarkBtn, Qt::LeftButton);
        QCOMPARE(form.selection().Entries(),
            (std::vector<std::string> { u, u + "\\Zeta", u + "\\App\\\\alpha", u + "\\App\\\\gamma" }));

        // The whole path shows in a tooltip where the column is too narrow for it, and only there.
        header->resizeSection(0, 60);
        QCOMPARE(pane.toolTipAt(pane.List->visualRect(model->index(0, 0)).center()), v);
        header->resizeSection(0, 2000);
        QVERIFY(pane.toolTipAt(pane.List->visualRect(model->index(0, 0)).center()).isEmpty());
    }

    // The wait window shows its picture, and its animation moves.
    void theWaitWindowDrawsItsPictureAndAnimation() {
        SearchState state;
        state.SearchCancelled = true;
        TWaitForm wait(state);
        QVERIFY2(!state.SearchCancelled, "a new wait window starts a search that is not cancelled");
        wait.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wait));
        QVERIFY(!wait.Image->pixmap().isNull());
        QCOMPARE(wait.Image->pixmap().size(), QSize(200, 85));
        const int frame = wait.Animate->frame();
        QTRY_VERIFY(wait.Animate->frame() != frame);
        QTest::mouseClick(wait.StopBtn, Qt::LeftButton);
        QVERIFY(state.SearchCancelled);
    }
};

QTEST_MAIN(SearchWindowTest)
#include "SearchWindowTest.moc"
