#include "TestSupport.h"
#include "registry/WinePrefixStore.h"
#include "shell/QuernU.h"

#include <QTest>

using namespace quern;

class MainFormTest : public QObject {
    Q_OBJECT

private:
    static std::unique_ptr<reg::WinePrefixStore> storeFor(const test::TempDir& dir, const std::string& serverTmp) {
        reg::WinePrefixOptions options;
        options.prefixDir = dir.path();
        options.serverPaths = { serverTmp, serverTmp + "/upstream", "/nonexistent" };
        options.scanProcesses = false;
        return std::make_unique<reg::WinePrefixStore>(options);
    }

private slots:
    void titleNamesTheProgram() {
        test::TempDir dir;
        test::copySamplePrefix(dir.path());
        TMainForm form(storeFor(dir, dir / "tmp"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Quern - THE registry editor & backupper"));
        QVERIFY(form.readOnlyText().isEmpty());
        QVERIFY(form.registry().keyExists("\\Software"));
    }

    void readOnlyRegistrySaysWhyInTheStatusBar() {
        test::TempDir dir;
        test::TempDir tmp;
        test::copySamplePrefix(dir.path());
        test::HeldLock server(test::debianLockPath(dir.path(), tmp.path()));
        TMainForm form(storeFor(dir, tmp.path()));
        QVERIFY(form.readOnlyText().contains(QStringLiteral("wineserver")));
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
