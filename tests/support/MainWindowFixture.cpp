#include "MainWindowFixture.h"

#include "store/KeyWalk.h"

#include <QApplication>
#include <QFileDialog>
#include <QTest>

namespace quern::test {

MainWindowFixture::MainWindowFixture(Questions asked)
    : store(openTestRegistry(dir / "registry")) {
    if (asked == Questions::Recorded) {
        m_recordsQuestions = true;
        setQuestionHook([this](const QString& question, bool offerAll) {
            questions << question + (offerAll ? QStringLiteral(" [all]") : QString());
            if (answers.empty()) return Answer::No;
            const Answer answer = answers.front();
            answers.pop_front();
            return answer;
        });
    }
}

MainWindowFixture::~MainWindowFixture() {
    form.reset(); // before the hook it may still ask through, and before the stores it reads
    if (m_recordsQuestions) setQuestionHook({});
}

void MainWindowFixture::set(
    std::u16string_view key, std::u16string_view name, std::uint32_t type, const std::vector<std::uint8_t>& data) {
    reg::KeyHandle handle(*store);
    QCOMPARE(
        store->createKey(reg::kCurrentUser, key, reg::Access::Full, reg::kOptionNone, handle.out()), reg::Status::Ok);
    QCOMPARE(store->setValue(handle.get(), name, type, data), reg::Status::Ok);
}

void MainWindowFixture::makeKey(std::u16string_view key) {
    reg::KeyHandle handle(*store);
    QCOMPARE(
        store->createKey(reg::kCurrentUser, key, reg::Access::Full, reg::kOptionNone, handle.out()), reg::Status::Ok);
}

bool MainWindowFixture::exists(std::u16string_view key) {
    reg::KeyHandle handle(*store);
    return store->openKey(reg::kCurrentUser, key, reg::Access::Read, reg::kOptionNone, handle.out()).ok();
}

reg::WinePrefixStore& MainWindowFixture::openWhileServerRuns(bool create) {
    m_serverLock = std::make_unique<HeldLock>(testRegistryServerLock(registryDir()));
    m_storeWhileServerRuns = openTestRegistry(registryDir(), create);
    return *m_storeWhileServerRuns;
}

TMainForm& MainWindowFixture::window() {
    if (!form) form = std::make_unique<TMainForm>(*store);
    return *form;
}

TMainForm& MainWindowFixture::window(reg::RegStore& over) {
    if (form) qFatal("the test's main window is already made over another store");
    form = std::make_unique<TMainForm>(over);
    return *form;
}

bool MainWindowFixture::showWindow(Shown shown) {
    TMainForm& shownForm = window();
    shownForm.show();
    if (shown == Shown::Exposed) return QTest::qWaitForWindowExposed(&shownForm);
    // Offscreen, nothing makes a shown window the active one; a desktop does.
    QApplication::setActiveWindow(&shownForm);
    return QTest::qWaitForWindowActive(&shownForm);
}

void MainWindowFixture::goTo(std::string_view path) {
    window().GoToPath(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())));
    window().flushTreeChange();
}

void MainWindowFixture::answerFileDialogs(std::function<QString()> answer) {
    window().fileDialogs.run = [this, answer = std::move(answer)](QFileDialog& dialog) {
        fileDialog.title = dialog.windowTitle();
        fileDialog.filter = dialog.nameFilters().join(QLatin1Char(';'));
        fileDialog.suffix = dialog.defaultSuffix();
        fileDialog.offered = dialog.selectedFiles().value(0);
        if (!fileType.isEmpty()) dialog.selectNameFilter(fileType);
        return answer();
    };
}

} // namespace quern::test
