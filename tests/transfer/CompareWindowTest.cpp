#include "transfer/CompareWindow.h"
#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "import/KeyCopy.h"
#include "import/RegFileReader.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

using namespace quern;
using namespace quern::test;

namespace {

void setString(reg::RegStore& store, std::u16string_view key, std::u16string_view name, std::u16string_view data) {
    reg::KeyHandle handle(store);
    QCOMPARE(store.createKey(reg::kCurrentUser, key, reg::Access::Full, 0, handle.out()), reg::Status::Ok);
    QCOMPARE(store.setValue(handle.get(), name, reg::kRegSz, utf16zBytes(data)), reg::Status::Ok);
}

QString counts(CompareWindow& window) {
    return window.findChild<QLabel*>(QStringLiteral("CompareCounts"))->text();
}

} // namespace

class CompareWindowTest : public QObject {
    Q_OBJECT

private slots:
    // Two keys at different paths of two registries: the differences grouped by key with their
    // counts, narrowed by the filter; the file saved one way turns the left into the right, and
    // Make right like left turns the right into the left, after which the two are the same.
    void showsSavesAndAppliesTheDifferences() {
        TempDir dir;
        reg::MemoryRegistry left;
        reg::MemoryRegistry right;
        setString(left, u"Software\\Old\\Game", u"Name", u"left");
        setString(left, u"Software\\Old\\Game\\Gone", u"x", u"1");
        setString(right, u"Software\\New\\Game", u"Name", u"right");
        setString(right, u"Software\\New\\Game\\Added", u"y", u"2");
        std::vector<reg::RegStore*> refreshed;
        CompareHost host;
        host.registries = [&] {
            return std::vector<CompareSource> { { QStringLiteral("Left"), &left, nullptr },
                { QStringLiteral("Right"), &right, nullptr } };
        };
        host.changed = [&](reg::RegStore& store) { refreshed.push_back(&store); };
        CompareWindow window(host, nullptr);
        window.setSide(
            true, { QStringLiteral("Left"), &left, nullptr }, QStringLiteral("HKEY_CURRENT_USER\\Software\\Old"));
        window.setSide(
            false, { QStringLiteral("Right"), &right, nullptr }, QStringLiteral("HKEY_CURRENT_USER\\Software\\New"));
        window.compare();
        QCOMPARE(refreshed.size(), std::size_t { 2 }); // both read again before they are compared
        QCOMPARE(counts(window),
            QStringLiteral(
                "1 key only on the left, 1 key only on the right, 1 value only on the right, 1 value changed."));
        QTreeWidget* list = window.list();
        QCOMPARE(list->topLevelItemCount(), 3);
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("HKEY_CURRENT_USER\\Software\\Old\\Game"));
        QCOMPARE(list->topLevelItem(0)->child(0)->text(1), QStringLiteral("changed"));
        auto* filter = window.findChild<QLineEdit*>(QStringLiteral("CompareFilter"));
        filter->setText(QStringLiteral("added"));
        QCOMPARE(list->topLevelItemCount(), 1);
        filter->setText(QStringLiteral("*\\Game* AND NOT *Added"));
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(counts(window), QStringLiteral("1 key only on the left, 1 value changed."));
        QCOMPARE(window.saveChanges(dir / "part.reg", false), reg::Status::Ok); // what the list shows
        RegFileContent part;
        QCOMPARE(readRegFile(dir / "part.reg", part), reg::Status::Ok);
        QCOMPARE(part.keys.size(), std::size_t { 2 }); // [-...\Gone] and [...\Game] with Name
        filter->clear();
        // A path the window cannot read is said, never taken for the whole registry.
        window.setSide(true, { QStringLiteral("Left"), &left, nullptr }, QStringLiteral("HKXX\\Software"));
        QVERIFY(!window.saveChanges(dir / "bad.reg", false).ok());
        QVERIFY(!fileExists(dir / "bad.reg"));
        window.setSide(true, { QStringLiteral("Left"), &left, nullptr }, QStringLiteral("HKCU\\Software\\Old"));

        const std::string file = dir / "changes.reg";
        QCOMPARE(window.saveChanges(file, false), reg::Status::Ok);
        RegFileContent content;
        QCOMPARE(readRegFile(file, content), reg::Status::Ok);
        reg::MemoryRegistry copy;
        setString(copy, u"Software\\Old\\Game", u"Name", u"left");
        setString(copy, u"Software\\Old\\Game\\Gone", u"x", u"1");
        QCOMPARE(applyImport(copy, content), reg::Status::Ok);
        reg::KeyHandle made(copy);
        reg::KeyHandle wanted(right);
        QVERIFY(openKeyAtPath(copy, "HKEY_CURRENT_USER\\Software\\Old", reg::Access::Read, 0, made).ok());
        QVERIFY(openKeyAtPath(right, "HKEY_CURRENT_USER\\Software\\New", reg::Access::Read, 0, wanted).ok());
        QVERIFY(compareKeys(copy, made.get(), right, wanted.get(), "HKEY_CURRENT_USER\\Software\\Old").empty());

        whenModalDo<QDialog>([](QDialog& preview) { preview.accept(); });
        window.makeRightLikeLeft();
        QCOMPARE(counts(window), QStringLiteral("The two sides are the same."));
        QVERIFY(std::find(refreshed.begin(), refreshed.end(), &right) != refreshed.end());
        QCOMPARE(right.undoChange(), reg::Status::Ok); // one change, taken back at once
        window.compare();
        QVERIFY(!window.plan().empty());
    }
};

QTEST_MAIN(CompareWindowTest)
#include "CompareWindowTest.moc"
