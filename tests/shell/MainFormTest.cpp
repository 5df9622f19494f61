#include "TestSupport.h"
#include "registry/WinePrefixStore.h"
#include "shell/QuernU.h"

#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quern;

class MainFormTest : public QObject {
    Q_OBJECT

private:
    static std::unique_ptr<reg::WinePrefixStore> storeFor(const test::TempDir& dir, const std::string& serverTmp) {
        reg::WinePrefixOptions options;
        options.prefixDir = dir.path();
        options.serverPaths = {serverTmp, serverTmp + "/upstream", "/nonexistent"};
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
        // A lock held the way a running wineserver holds it.
        test::writeFile(dir / "wineserver", "wine-test");
        const std::string folder = tmp / "wine-test/" + reg::serverFolderName(dir.path());
        QVERIFY(::mkdir((tmp / "wine-test").c_str(), 0700) == 0);
        QVERIFY(::mkdir(folder.c_str(), 0700) == 0);
        const pid_t child = ::fork();
        if (child == 0) {
            const int fd = ::open((folder + "/lock").c_str(), O_RDWR | O_CREAT, 0600);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_len = 1;
            ::fcntl(fd, F_SETLKW, &lock);
            ::pause();
            ::_exit(0);
        }
        for (int i = 0; i < 200 && reg::findWineServer(dir.path(), {tmp.path(), "/nonexistent", "/proc"}, false).running == false; ++i)
            QTest::qWait(10);
        TMainForm form(storeFor(dir, tmp.path()));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        QVERIFY(form.readOnlyText().contains(QStringLiteral("wineserver")));
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
