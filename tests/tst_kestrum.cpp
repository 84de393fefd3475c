#include "kestrum/DefaultsKey.h"
#include "kestrum/Dispatch.h"
#include "kestrum/Format.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Log.h"
#include "kestrum/NotificationCenter.h"
#include "platform/Host.h"
#include "platform/UserDefaults.h"
#include "support/UrlRecorder.h"
#include "support/VolumeFixture.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <atomic>

using namespace kestrum;

class KestrumTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<VolumeFixture> m_volume;

private Q_SLOTS:
    void initTestCase()
    {
        m_volume = std::make_unique<VolumeFixture>();
        static Kestrum shared;
        QVERIFY(hx == &shared);
        QVERIFY(QFileInfo(m_volume->physical(hx->suppDir())).isDir());
    }

    void logRingWrapsAfterTenMessages()
    {
        // Level 7 is used by nobody else in this process, so its ring starts at 0.
        for (int i = 0; i < 12; ++i)
            asl_NSLog(7, "message %i", i);
        auto slot = [](int i) { return platform::UserDefaults::standard().storedObject(logRingKey(7, i)).toString(); };
        QVERIFY(slot(0).startsWith("date: "));
        QVERIFY(slot(0).endsWith(" message: message 10"));
        QVERIFY(slot(1).endsWith(" message: message 11"));
        QVERIFY(slot(9).endsWith(" message: message 9"));
    }

    void dispatchToTheMainThread()
    {
        // From the main thread a synchronous block runs inline, an asynchronous
        // or delayed one later.
        bool ranInline = false, queued = false, delayed = false;
        dispatch_sync_main([&] { ranInline = true; });
        dispatch_async_main([&] { queued = true; });
        dispatch_after_main([&] { delayed = true; }, 0.0f);
        QVERIFY(ranInline && !queued && !delayed);
        QTRY_VERIFY(queued && delayed);

        // From the pool, the caller waits until the main thread has run it.
        std::atomic<bool> ranOnMain{false}, sawResult{false}, finished{false};
        QThreadPool::globalInstance()->start([&] {
            bool set = false;
            dispatch_sync_main([&] {
                ranOnMain = QThread::currentThread() == qApp->thread();
                set = true;
            });
            sawResult = set;
            finished = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(finished.load(), 5000);
        QVERIFY(ranOnMain && sawResult);
    }

    void formattedText_data()
    {
        QTest::addColumn<QString>("formatted");
        QTest::addColumn<QString>("expected");
        QTest::newRow("statistics") << makeString("%lu Packages  %.1f MB", 12u, 3.14159) << "12 Packages  3.1 MB";
        QTest::newRow("objects") << makeString("v%@ (%i)", "1.2", 34) << "v1.2 (34)";
        QTest::newRow("percent") << makeString("100%% of %@", QStringLiteral("it")) << "100% of it";
        QTest::newRow("missing arguments") << makeString("a%@b%ic") << "a(null)b0c";
        QTest::newRow("negative long") << makeString("%li", -5L) << "-5";
        QTest::newRow("array") << makeString("%@", QStringList{"a", "b"}) << "(\n    a,\n    b\n)";
        // Leading-integer parsing of build numbers.
        for (const auto &[text, number] :
             {std::pair{"1234", 1234}, {"12a", 12}, {"abc", 0}, {"99999999999", INT32_MAX}}) {
            const QString parsed = QString::number(Kestrum::parseBuildNumber(text));
            QTest::addRow("build number %s", text) << parsed << QString::number(number);
        }
    }

    void formattedText()
    {
        QFETCH(QString, formatted);
        QFETCH(QString, expected);
        QCOMPARE(formatted, expected);
    }

    void supportMailCountsCrashReports()
    {
        auto expected = [](const QString &problems) {
            const QString text =
                QStringLiteral("mailto:support@dorvane.example?subject=Dorvane v%1 (%2) Support Request&body="
                               "<Insert Support Request Here>\n\n\n\nP.S: Hardware: %3 Software: %4%5\n")
                    .arg(hx->appVersionString())
                    .arg(hx->appBuildNumber())
                    .arg(_machineType(), platform::Host::operatingSystemVersion(), problems);
            return QString::fromLatin1(text.toUtf8().toPercentEncoding("!$&'()*+,/:;=?@"));
        };
        UrlRecorder recorder;
        hx->openURL(openSupportMail);
        m_volume->writeFile("~/Library/Logs/DiagnosticReports/Dorvane_2026-12-01-101010_mac.crash", "report");
        hx->openURL(openSupportMail);
        QDir(m_volume->physical("~/Library/Logs")).removeRecursively();
        QCOMPARE(recorder.urls().size(), 2);
        QCOMPARE(QString::fromLatin1(recorder.urls().at(0).toEncoded()), expected(QString()));
        QCOMPARE(QString::fromLatin1(recorder.urls().at(1).toEncoded()), expected(" Problems: 1"));
    }

    void otherChoicesOpenTheirPages()
    {
        UrlRecorder recorder;
        for (quint8 choice : {0, 255, int(openBetaMail), int(openVendorPage), int(openStorePage), int(openStoreApp),
                              int(openMacupdatePage), 7})
            hx->openURL(choice);
        // Unknown choices open nothing.
        QCOMPARE(recorder.urls().size(), 5);
        QCOMPARE(QString::fromLatin1(recorder.urls().at(0).toEncoded()),
                 QStringLiteral("mailto:support@dorvane.example?subject=Dorvane%20Beta%20Versions&body=Hello%0AI"
                                "%20would%20like%20to%20test%20upcoming%20beta%20versions%20of%20Dorvane.%0ABye%0A"));
        QCOMPARE(recorder.urls().at(1).toString(), QStringLiteral("https://www.dorvane.example/dorvane/"));
        QVERIFY(recorder.urls().at(2).toString().startsWith("https://apps.apple.com/"));
        QCOMPARE(recorder.urls().at(3).toString(),
                 recorder.urls().at(2).toString().replace("https://", "macappstore://"));
        QVERIFY(recorder.urls().at(4).toString().startsWith("https://www.macupdate.com/"));
    }

    void crashLogsFromBothFolders()
    {
        m_volume->writeFile("~/Library/Logs/DiagnosticReports/dorvane_2026-12-02_mac.crash");
        m_volume->writeFile("~/Library/Logs/DiagnosticReports/Other_2026-12-02_mac.crash");
        m_volume->writeFile("/Library/Logs/DiagnosticReports/DORVANE_2026-12-03_mac.crash");
        const QStringList names = hx->appCrashLogs();
        QDir(m_volume->physical("~/Library/Logs")).removeRecursively();
        QDir(m_volume->physical("/Library/Logs")).removeRecursively();
        QCOMPARE(names, (QStringList{"dorvane_2026-12-02_mac.crash", "DORVANE_2026-12-03_mac.crash"}));
        QVERIFY(hx->appCrashLogs().isEmpty());
    }

    void adminMembership()
    {
        const QList<QByteArray> admins{"root", "ann"};
        QVERIFY(platform::Host::isListedMember("ann", admins));
        for (const char *other : {"bob", "an", "Ann"})
            QVERIFY2(!platform::Host::isListedMember(other, admins), other);
    }

    void frameworkLinkCheck()
    {
        QTemporaryDir dir;
        const QString frameworks = dir.path() + "/Frameworks";
        QVERIFY(Kestrum::frameworksAreIntact(frameworks)); // no folder: nothing to check
        QDir().mkpath(frameworks + "/Good.framework/Versions/A");
        QVERIFY(QFile::link("Versions/A/Good", frameworks + "/Good.framework/Good"));
        QVERIFY(Kestrum::frameworksAreIntact(frameworks));
        // A framework that leads out of the folder is not looked for outside it.
        QTemporaryDir outside;
        QVERIFY(QDir().mkpath(outside.path() + "/Out.framework")
                && QFile::link("A/Out", outside.path() + "/Out.framework/Out"));
        QVERIFY(QFile::link(outside.path() + "/Out.framework", frameworks + "/Out.framework"));
        QVERIFY(!Kestrum::frameworksAreIntact(frameworks));
        QVERIFY(QFile::remove(frameworks + "/Out.framework"));
        // An extracted archive that lost its links holds a plain file instead.
        QDir().mkpath(frameworks + "/Bad.framework");
        QVERIFY(QFile(frameworks + "/Bad.framework/Bad").open(QIODevice::WriteOnly));
        QVERIFY(!Kestrum::frameworksAreIntact(frameworks));
    }

    void notificationCenterReachesObservers()
    {
        QVERIFY(notificationCenter);
        QSignalSpy spy(notificationCenter, &NotificationCenter::notification);
        notificationCenter->post("Scanned", nullptr, {{"count", 3}});
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("Scanned"));
        QCOMPARE(spy.at(0).at(2).toMap().value("count"), QVariant(3));
    }

    void defaultsKeyReadsAndWrites()
    {
        const DefaultsKey key("SomeNumber");
        QCOMPARE(key.defaultInt(), 0);
        key.setDefaultInt(41);
        QCOMPARE("SomeNumber"_key.defaultInt(), 41);
        key.setDefaultString(" 12abc");
        QCOMPARE(key.defaultString(), QStringLiteral(" 12abc"));
        QCOMPARE(key.defaultInt(), 12); // a stored text reads as its leading number
        QVERIFY(!key.defaultArray()); // a text is no array
        key.setDefaultArray(QVariantList{});
        QCOMPARE(key.defaultArray(), QVariantList{}); // an empty array is a value
        key.setDefaultArray(QVariantList{"a", 3, "b"});
        QCOMPARE(key.defaultStringArray(), (QStringList{"a", "b"}));
        // A place in the home folder is stored from "~"; a web address as bytes, never read as a path.
        const QUrl file = QUrl::fromLocalFile(m_volume->home() + "/Documents/a b.txt");
        key.setDefaultURL(file);
        QCOMPARE(key.defaultObject(), QVariant("~/Documents/a b.txt"));
        QCOMPARE(key.defaultURL(), file);
        key.setDefaultURL(QUrl("https://example.org/a?b=c"));
        QCOMPARE(key.defaultObject().typeId(), QMetaType::QByteArray);
        QCOMPARE(key.defaultURL(), QUrl("https://example.org/a?b=c"));
        key.setDefaultObject(QVariant());
        QVERIFY(!key.defaultArray() && key.defaultURL().isEmpty());
        QVERIFY(!platform::UserDefaults::standard().persistentDomain().contains("SomeNumber"));
    }
};

QTEST_MAIN(KestrumTest)
#include "tst_kestrum.moc"
