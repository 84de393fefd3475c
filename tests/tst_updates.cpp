#include "dorvane/updates/AppcastFeed.h"
#include "dorvane/updates/UpdateCheck.h"
#include "dorvane/Settings.h"
#include "dorvane/updates/UpdateController.h"
#include "dorvane/updates/Updater.h"
#include "kestrum/DefaultsKey.h"
#include "support/LogRing.h"
#include "support/LoopbackHttpServer.h"
#include "support/ScriptedPresenter.h"
#include "support/UrlRecorder.h"
#include "support/VolumeFixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace dorvane::updates;

namespace {

// The newest build is neither the first nor the last item, and "99" sorts
// above "140" as text.
const QByteArray kFeed =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>\n"
    " <item><sparkle:version>130</sparkle:version><sparkle:shortVersionString>1.3</sparkle:shortVersionString>\n"
    "  <description><![CDATA[<li>Faster</li>]]></description><link>http://127.0.0.1/</link></item>\n"
    " <item><sparkle:releaseNotesLink>http://127.0.0.1/notes-1.4.html</sparkle:releaseNotesLink>\n"
    "  <enclosure url=\"http://127.0.0.1/Dorvane-1.4.zip\" sparkle:version=\"140\" sparkle:shortVersionString=\"1.4\"/></item>\n"
    " <item><enclosure url=\"http://127.0.0.1/old.zip\" sparkle:version=\"99\"/></item>\n"
    "</channel></rss>\n";
// The same, with the newest build's only address a file.
const QByteArray kFileFeed = QByteArray(kFeed).replace("http://127.0.0.1/Dorvane", "file:///Dorvane");

} // namespace

class UpdatesTest : public QObject
{
    Q_OBJECT

    // The newest feed, a cut-off copy, one whose newest build is a file, and a path never answered.
    LoopbackHttpServer m_server{{{"/feed.xml", {"application/rss+xml", kFeed}},
                                 {"/broken.xml", {"application/rss+xml", kFeed.left(300)}},
                                 {"/file.xml", {"application/rss+xml", kFileFeed}},
                                 {"/silent", {}}}};
    QString m_base;

private Q_SLOTS:
    void initTestCase() { m_base = m_server.base(); }

    void versionsCompare_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("numbers, not text") << "1.10" << "1.9" << 1;
        QTest::newRow("builds") << "99" << "140" << -1;
        QTest::newRow("missing part is 0") << "1.0" << "1.0.0" << 0;
        QTest::newRow("leading zeros") << "1.01" << "1.1" << 0;
        QTest::newRow("longer than 64 bits") << "123456789012345678901234567890" << "9" << 1;
        QTest::newRow("pre-release is older") << "1.0b1" << "1.0" << -1;
        QTest::newRow("number beats text") << "1.0.1" << "1.0b1" << 1;
        QTest::newRow("text parts") << "1.0a" << "1.0b" << -1;
        QTest::newRow("separators alike") << "1-2_3" << "1.2.3" << 0;
    }

    void versionsCompare()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE((compareVersions(a, b) > 0) - (compareVersions(a, b) < 0), order);
        QCOMPARE((compareVersions(b, a) > 0) - (compareVersions(b, a) < 0), -order);
    }

    void checksAgainstTheServer_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("currentBuild");
        QTest::addColumn<bool>("available");
        QTest::addColumn<QString>("error");   // a part of the expected error; empty for success
        QTest::newRow("newer") << "/feed.xml" << "130" << true << "";
        QTest::newRow("same") << "/feed.xml" << "140" << false << "";
        QTest::newRow("ahead") << "/feed.xml" << "140.1" << false << "";
        QTest::newRow("malformed") << "/broken.xml" << "1" << false << "cannot be read";
        QTest::newRow("missing") << "/nothing.xml" << "1" << false << "Cannot fetch";
        QTest::newRow("no answer") << "/silent" << "1" << false << "did not answer within 0.8 seconds";
    }

    void checksAgainstTheServer()
    {
        QFETCH(QString, path);
        QFETCH(QString, currentBuild);
        QFETCH(bool, available);
        QFETCH(QString, error);
        UpdateCheck check;
        check.setFeedUrl(QUrl(m_base + path));
        check.setCurrentVersion("shown", currentBuild);
        check.setTimeout(std::chrono::milliseconds(800));
        QSignalSpy finished(&check, &UpdateCheck::finished);
        check.start();
        QVERIFY(finished.wait(10000));
        const auto result = finished.first().first().value<UpdateCheckResult>();
        QVERIFY2(result.error.contains(error), qPrintable(result.error));
        QCOMPARE(result.succeeded(), error.isEmpty());
        QCOMPARE(result.updateAvailable, available);
        QCOMPARE(result.currentBuild, currentBuild);
        if (result.succeeded()) {
            QCOMPARE(result.newestVersion, QStringLiteral("1.4"));
            QCOMPARE(result.downloadUrl, QStringLiteral("http://127.0.0.1/Dorvane-1.4.zip"));
            QCOMPARE(result.releaseNotesLink, QStringLiteral("http://127.0.0.1/notes-1.4.html"));
        }
        QVERIFY(finished.size() == 1 && !check.isRunning());
    }

    void commandNamesTheNewerBuild()
    {
        VolumeFixture volume;
        const QStringList check{"--root", volume.root(), "--home", volume.home(), "check-updates", "--feed"};
        QProcess process;
        process.start(DORVANE_CLI, check + QStringList{m_base + "/feed.xml", "--json"});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        const QJsonObject answer = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
        QCOMPARE(answer.value("newestVersion").toString(), QStringLiteral("1.4"));
        QCOMPARE(answer.value("currentBuild").toString(), QStringLiteral("1"));
        QCOMPARE(answer.value("updateAvailable").toBool(), true);

        process.start(DORVANE_CLI, check + QStringList{m_base + "/broken.xml"});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("cannot be read"));
    }

    void updaterTellsTheUser_data() { checksAgainstTheServer_data(); }

    // A check the user asked for tells each outcome; "Open Download Page" goes
    // to the browser, and nothing is downloaded.
    void updaterTellsTheUser()
    {
        QFETCH(QString, path);
        QFETCH(QString, currentBuild);
        QFETCH(bool, available);
        QFETCH(QString, error);
        VolumeFixture volume;
        ScriptedPresenterScope script;
        UrlRecorder browser;
        Updater updater;
        updater.check().setFeedUrl(QUrl(m_base + path));
        updater.check().setCurrentVersion("shown", currentBuild);
        updater.check().setTimeout(std::chrono::milliseconds(800));
        QSignalSpy checked(&updater, &Updater::checked);
        updater.checkForUpdates();
        QVERIFY(checked.wait(10000));
        QCOMPARE(script->questions().size(), 1);
        const QString title = script->questions().first().title;
        QCOMPARE(title, available ? "A new version of Dorvane is available!"
                        : error.isEmpty() ? "You're up to date!" : "Update Error!");
        QCOMPARE(browser.urls(), available ? QList<QUrl>{QUrl("http://127.0.0.1/Dorvane-1.4.zip")} : QList<QUrl>());
    }

    // "Open Download Page" hands only a web address to the desktop.
    void downloadPageIsAWebPage()
    {
        VolumeFixture volume;
        ScriptedPresenterScope script;
        UrlRecorder browser;
        Updater updater;
        updater.check().setFeedUrl(QUrl(m_base + "/file.xml"));
        updater.check().setCurrentVersion("shown", "130");
        QSignalSpy checked(&updater, &Updater::checked);
        updater.checkForUpdates();
        QVERIFY(checked.wait(10000));
        QCOMPARE(script->questions().size(), 1);   // answered "Open Download Page"
        QVERIFY(checked.first().first().value<UpdateCheckResult>().updateAvailable);
        QCOMPARE(browser.urls(), QList<QUrl>());
    }

    // An automatic check is due once the interval has passed since the last
    // one, or when the last one lies ahead (the clock was set back).
    void automaticCheckIsDue_data()
    {
        QTest::addColumn<qint64>("lastCheck");   // seconds from now
        QTest::addColumn<bool>("due");
        QTest::newRow("an hour ago") << qint64(-3600) << false;
        QTest::newRow("two days ago") << qint64(-2 * 86400) << true;
        QTest::newRow("a year ahead") << qint64(365 * 86400) << true;
    }

    void automaticCheckIsDue()
    {
        QFETCH(qint64, lastCheck);
        QFETCH(bool, due);
        VolumeFixture volume;
        const kestrum::DefaultsKey last("SULastCheckTime");
        last.setDefaultObject(QDateTime::currentDateTimeUtc().addSecs(lastCheck));
        Updater updater;
        updater.check().setFeedUrl(QUrl(m_base + "/silent"));
        updater.setUpdateCheck(1);
        QCOMPARE(updater.check().isRunning(), due);
        QCOMPARE(qAbs(last.defaultObject().toDateTime().secsTo(QDateTime::currentDateTimeUtc())) < 60, due);
    }

    // The menu indexes of "updatecheckMenuindex": 1 to 5 check on their
    // interval, others turn automatic checks off and keep the interval.
    void intervalIndexes()
    {
        VolumeFixture volume;   // the time of the last check is a setting
        Updater updater;
        updater.check().setFeedUrl(QUrl(m_base + "/silent"));
        const QList<std::pair<qint64, qint64>> table = {{1, 86400},  {2, 172800}, {0, 172800}, {3, 604800},
                                                        {6, 604800}, {4, 1209600}, {5, 2419200}, {-1, 2419200}};
        for (const auto &[tag, interval] : table) {
            updater.setUpdateCheck(tag);
            QCOMPARE(updater.automaticallyChecksForUpdates(), Updater::intervalForTag(tag) > 0);
            QCOMPARE(updater.updateCheckInterval(), interval);
        }
    }

    void scheduledFromTheLastCheck_data()
    {
        QTest::addColumn<qint64>("index");
        QTest::addColumn<qint64>("secondsAgo");   // -1: never checked
        QTest::addColumn<bool>("checks");
        QTest::newRow("never checked") << qint64(1) << qint64(-1) << true;
        QTest::newRow("checked within the day") << qint64(1) << qint64(3600) << false;
        QTest::newRow("checked two days ago") << qint64(1) << qint64(2 * 86400) << true;
        QTest::newRow("checked two days ago, weekly") << qint64(3) << qint64(2 * 86400) << false;
        QTest::newRow("automatic checks off") << qint64(0) << qint64(30 * 86400) << false;
    }

    // The updater exists only once started (after the first scan), set from
    // the stored index, and checks at once when the stored last check is
    // older than its interval. Before, asking for a check only logs a warning.
    void scheduledFromTheLastCheck()
    {
        QFETCH(qint64, index);
        QFETCH(qint64, secondsAgo);
        QFETCH(bool, checks);
        VolumeFixture volume;
        ScriptedPresenterScope script;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        kestrum::DefaultsKey(dorvane::Settings::kUpdateCheckMenuIndex).setDefaultInt(index);
        kestrum::DefaultsKey("SULastCheckTime").setDefaultObject(secondsAgo < 0 ? QVariant() : QVariant(now.addSecs(-secondsAgo)));
        UpdateController controller;
        controller.checkForUpdates();
        QVERIFY(!controller.updater());
        QVERIFY(wasLogged(kestrum::LogWarning, "Warning: the sparkle updater is not available!"));
        controller.start();
        QVERIFY(controller.updater());
        QCOMPARE(controller.updater()->automaticallyChecksForUpdates(), index > 0);
        QCOMPARE(controller.updater()->updateCheckInterval(), index > 0 ? Updater::intervalForTag(index) : 172800);
        const QDateTime last = kestrum::DefaultsKey("SULastCheckTime").defaultObject().toDateTime();
        QCOMPARE(last.isValid() && last >= now, checks);
    }
};

QTEST_GUILESS_MAIN(UpdatesTest)
#include "tst_updates.moc"
