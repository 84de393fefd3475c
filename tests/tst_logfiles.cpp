// The uninstall logs on a volume in a temporary folder: tidying, pruning, the running log, the menu,
// the size warning, the log file's text, and links that must lead nowhere.

#include "dorvane/logs/LogFiles.h"
#include "kestrum/Kestrum.h"
#include "platform/Volume.h"
#include "support/LogRing.h"
#include "support/ScriptedPresenter.h"
#include "support/UrlRecorder.h"
#include "support/VolumeFixture.h"

#include <QDirIterator>
#include <QTest>

using dorvane::LogFiles;
using Lists = std::optional<QStringList>;
using Names = QStringList;

namespace {
const QString S = QStringLiteral("/Users/tester/Library/Application Support/Dorvane");
const QDateTime kNow(QDate(2019, 3, 5), QTime(14, 7, 9));

QStringList below(const QString &folder)   // relative, sorted, links not entered
{
    QStringList paths;
    for (QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories); it.hasNext();)
        paths.append(QDir(folder).relativeFilePath(it.next()));
    paths.sort();
    return paths;
}
} // namespace

class LogFilesTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<VolumeFixture> m_volume;
    QTemporaryDir m_outside;
    QString supp(const QString &name) const { return m_volume->physical(S + '/' + name); }

private Q_SLOTS:
    void initTestCase()
    {
        const VolumeFixture volume;
        static kestrum::Kestrum shared;
        QVERIFY(QFile(m_outside.filePath("x.txt")).open(QIODevice::WriteOnly) && QFile(m_outside.filePath("y.log")).open(QIODevice::WriteOnly));
    }
    void init() { m_volume = std::make_unique<VolumeFixture>(); QVERIFY(m_volume->makeFolder(S)); }
    void cleanup() { m_volume.reset(); }

    void housekeeping_data()
    {
        QTest::addColumn<Names>("made");         // below the support folder
        QTest::addColumn<QByteArray>("before");  // the running log; null: none
        QTest::addColumn<qint64>("age");         // of the last item made, when housekeeping runs
        QTest::addColumn<Names>("left");
        QTest::addColumn<QString>("after");      // "@" stands for the timestamp
        QTest::addColumn<Names>("menu");
        const QString removed = "@removed dubios file from application support folder '" + S;
        QTest::newRow("first start") << Names() << QByteArray() << 0ll << Names{"Logfiles"} << "" << Names();
        QTest::newRow("old.log moved, log appended") << Names{"old.log"} << QByteArray("old\n") << 0ll << Names{"Dorvane.log", "Logfiles", "Logfiles/old.log"}
            << "old\n@moved old logfile to new logfile folder '" + S + "/Logfiles/old.log'\n" << Names{"Dorvane.log", "", "old.log"};
        QTest::newRow("file removed, log not UTF-8") << Names{"notes.txt"} << QByteArray("old \xff\n") << 0ll
            << Names{"Dorvane.log", "Logfiles"} << removed + "/notes.txt'\n" << Names{"Dorvane.log", ""};
        QTest::newRow("folder removed, log cut in a character") << Names{"junk/in.txt"} << QByteArray("old \xc3") << 0ll
            << Names{"Dorvane.log", "Logfiles"} << removed + "/junk'\n" << Names{"Dorvane.log", ""};
        QTest::newRow("log folder only") << Names{"Logfiles/Dorvane.log", "Logfiles/b.txt", "Logfiles/a.log"} << QByteArray() << 0ll
            << Names{"Logfiles", "Logfiles/Dorvane.log", "Logfiles/a.log", "Logfiles/b.txt"} << "" << Names{"a.log"};
        QTest::newRow("exactly 28 days: kept") << Names{"Logfiles/a.log"} << QByteArray() << 2419200000ll
            << Names{"Logfiles", "Logfiles/a.log"} << "" << Names{"a.log"};
        QTest::newRow("28 days and a second: pruned") << Names{"Logfiles/a.log"} << QByteArray() << 2419201000ll
            << Names{"Dorvane.log", "Logfiles"} << "@removed old logfile '" + S + "/Logfiles/a.log'\n" << Names{"Dorvane.log", ""};
    }
    void housekeeping()
    {
        QFETCH(Names, made); QFETCH(QByteArray, before); QFETCH(qint64, age); QFETCH(Names, left); QFETCH(QString, after); QFETCH(Names, menu);
        for (const QString &item : made)
            QVERIFY(m_volume->writeFile(S + '/' + item));
        QFile last(supp(made.value(made.size() - 1)));   // changed long after it was made
        QVERIFY(made.isEmpty() || (last.open(QIODevice::ReadOnly) && last.setFileTime(kNow, QFileDevice::FileModificationTime)));
        const auto status = platform::Volume::current()->status(platform::volumePath(S + '/' + made.value(made.size() - 1)).value(), platform::Follow::NotFinal);
        QVERIFY(status && status->createdMSecs == QFileInfo(last).birthTime().toMSecsSinceEpoch());
        QVERIFY(before.isNull() || m_volume->writeFile(S + "/Dorvane.log", before));
        const QDateTime now = QDateTime::fromMSecsSinceEpoch(status->createdMSecs + age);
        LogFiles::migrateLogfiles(now);
        LogFiles::pruneOldLogfiles(now);
        QCOMPARE(below(supp("")), left);
        QCOMPARE(QString::fromUtf8(fileContents(supp("Dorvane.log"))), after.replace('@', LogFiles::timestamp(now) + ": "));
        QCOMPARE(LogFiles::logfileMenuTitles(), menu);
        const UrlRecorder urls;
        const QString first = menu.value(0), expected = supp((first == "Dorvane.log" ? "" : "Logfiles/") + first);
        QVERIFY(menu.isEmpty() || LogFiles::openLogfile(first));
        QCOMPARE(urls.urls(), menu.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl::fromLocalFile(expected)});
    }

    // Log history is never lost: a stray log keeps its own name's log, and a running log too big to read is added to.
    void strayLogNeverReplacesOne()
    {
        QVERIFY(m_volume->writeFile(S + "/Logfiles/a.log", "kept") && m_volume->writeFile(S + "/Logfiles/a-0.log", "kept too"));
        QVERIFY(m_volume->writeFile(S + "/a.log", "stray"));
        LogFiles::migrateLogfiles(kNow);
        QCOMPARE(fileContents(supp("Logfiles/a.log")) + fileContents(supp("Logfiles/a-0.log")), "keptkept too");
        QCOMPARE(fileContents(supp("Logfiles/a-1.log")), "stray");
        QCOMPARE(fileContents(supp("Dorvane.log")), LogFiles::timestamp(kNow).toUtf8() + ": moved old logfile to new logfile folder '" + S.toUtf8() + "/Logfiles/a-1.log'\n");
        QVERIFY(wasLogged(kestrum::LogWarning, "the stray log of that name is kept beside it as " + S + "/Logfiles/a-1.log"));
    }
    void largeRunningLogIsAddedTo()
    {
        constexpr qint64 kSize = 65 * 1048576;
        QVERIFY(m_volume->writeFile(S + "/Dorvane.log", "first\n") && QFile::resize(supp("Dorvane.log"), kSize));
        LogFiles::addToLogfile("next\n");
        QFile log(supp("Dorvane.log"));
        QVERIFY(log.open(QIODevice::ReadOnly) && log.size() == kSize + 5 && log.read(6) == "first\n" && log.seek(kSize));
        QCOMPARE(log.readAll(), "next\n");
    }

    void sizeWarning_data()
    {
        QTest::addColumn<qint64>("bytes"); QTest::addColumn<int>("answer");   // a sparse file; 0: no question
        QTest::newRow("25.9 MB") << qint64(25.9 * 1048576) << 0;
        QTest::newRow("26 MB, open") << qint64(26 * 1048576) << 1000;
    }
    void sizeWarning()
    {
        QFETCH(qint64, bytes); QFETCH(int, answer);
        QVERIFY(m_volume->writeFile(S + "/Logfiles/big.log") && QFile::resize(supp("Logfiles/big.log"), bytes));
        const ScriptedPresenterScope presenter;
        const UrlRecorder urls;
        presenter->enqueueButton(answer);
        LogFiles::checkLogfileFolderSize();
        const QList<kestrum::AlertQuestion> asked = presenter->questions();
        QCOMPARE(asked.size(), answer ? 1 : 0);
        QVERIFY(!answer || (asked[0].title == "Warning" && asked[0].buttons == Names{"Open Logfile Folder", "Cancel"}
                            && asked[0].message == "Dorvane clears old log-files about uninstallations every month but your logfiles have "
                                                   "still grown to 26 MB. Do you want to clear out unnecessary logfiles manually now?"));
        QCOMPARE(urls.urls(), answer == 1000 ? QList<QUrl>{QUrl::fromLocalFile(supp("Logfiles"))} : QList<QUrl>());
    }

    void logfileText_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("lists");   // generated and remaining given
        QTest::addColumn<QString>("tail");
        QTest::newRow("full") << "com.vendor..*" << "com.vendor..*.log" << true << "\n/g1\n/g2\n\n\nUninstalled remaining-folders: \n/r";
        QTest::newRow("slashes, two lists off") << "../a/../../b" << "..:a:..:..:b.log" << false << "\n\n\n\nUninstalled remaining-folders: \n";
    }
    void logfileText()
    {
        QFETCH(QString, name); QFETCH(QString, file); QFETCH(bool, lists); QFETCH(QString, tail);
        const platform::LogicalPath path = LogFiles::writeLogfile(name, "com.a com.b", "a.pkg b.pkg", {"/f1", "/f2"}, {"/d"},
                                                                  lists ? Lists(Names{"/r"}) : Lists(), lists ? Lists(Names{"/g1", "/g2"}) : Lists(), kNow);
        QCOMPARE(path.toString(), S + "/Logfiles/" + file);
        QCOMPARE(below(supp("")), Names({"Logfiles", "Logfiles/" + file}));
        QCOMPARE(QString::fromUtf8(fileContents(supp("Logfiles/" + file))), "Date: 05.03.2019 14:07:09\nPackagename: com.a com.b\nPackagefilename: "
                 "a.pkg b.pkg\n\n\nUninstalled files: \n/f1\n/f2\n\n\nUninstalled folders: \n/d\n\n\nUninstalled generated-files: " + tail);
    }

    void linksLeadNowhere_data()
    {
        QTest::addColumn<QString>("link"); QTest::addColumn<QString>("target");
        QTest::newRow("support folder to /") << S << "/";
        QTest::newRow("support folder to a host folder") << S << m_outside.path();
        QTest::newRow("log folder to /") << S + "/Logfiles" << "/";
    }
    void linksLeadNowhere()
    {
        QFETCH(QString, link); QFETCH(QString, target);
        QVERIFY(QDir(supp("")).removeRecursively() && m_volume->makeFolder(link + "/..") && m_volume->makeLink(link, target));
        QVERIFY(m_volume->writeFile("/stray.log") && m_volume->writeFile("/stray.txt"));
        const QStringList volume = below(m_volume->root()), host = below(m_outside.path());
        LogFiles::migrateLogfiles(kNow.addYears(100));
        LogFiles::pruneOldLogfiles(kNow.addYears(100));
        QCOMPARE(below(m_volume->root()), volume);
        QCOMPARE(below(m_outside.path()), host);
    }
};

QTEST_GUILESS_MAIN(LogFilesTest)
#include "tst_logfiles.moc"
