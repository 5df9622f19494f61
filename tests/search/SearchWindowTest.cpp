#include "MainWindowFixture.h"
#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "search/FindU.h"
#include "search/SearchEngine.h"
#include "search/SearchHitsPane.h"
#include "search/SearchingU.h"
#include "shell/QuernU.h"
#include "store/KeyWalk.h"
#include "window/KeyTreeItem.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
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

    // Find all lists each hit once, in the walk's order; Enter on one goes to it.
    void findAllListsEveryHit() {
        Fixture f;
        QVERIFY(f.showWindow());
        TMainForm& form = f.window();
        QVERIFY(!form.hitsPane().isVisible());
        form.GoToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor"));
        TreeView(form)->setFocus();
        whenModal<TFindForm>([](TFindForm& dialog) {
            dialog.EditFind->setText(QStringLiteral("need*"));
            dialog.FindAllBTN->click();
        });
        // The list is filled row by row during the walk: its model keeps the rules views rely on.
        QAbstractItemModelTester hitRules(
            form.hitsPane().List->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        form.SearchMNUClick();
        SearchHitsPane& pane = form.hitsPane();
        QVERIFY(pane.isVisible());
        const std::string app = "HKEY_CURRENT_USER\\Software\\Vendor\\App";
        const std::string users = "HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Vendor";
        std::vector<std::string> hits;
        for (int row = 0; row < pane.hitCount(); ++row)
            hits.push_back(pane.hitAt(row));
        QCOMPARE(hits,
            (std::vector<std::string> { app + "\\\\alpha", app + "\\\\gamma",
                "HKEY_CURRENT_USER\\Software\\Vendor\\Needle", users + "\\App\\\\alpha", users + "\\App\\\\gamma",
                users + "\\Needle" }));
        QCOMPARE(pane.List->topLevelItem(0)->text(1), QStringLiteral("\"need\""));
        pane.List->setCurrentItem(pane.List->topLevelItem(1));
        QTest::keyClick(pane.List, Qt::Key_Return);
        QCOMPARE(position(form), QString::fromStdString(app) + QStringLiteral("\\\\gamma"));
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
