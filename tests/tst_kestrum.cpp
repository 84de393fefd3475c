#include "kestrum/DefaultsKey.h"
#include "kestrum/Dispatch.h"
#include "kestrum/Format.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Log.h"
#include "platform/Host.h"
#include "platform/UserDefaults.h"
#include "support/UrlRecorder.h"
#include "support/VolumeFixture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <atomic>

using namespace kestrum;

class KestrumTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void logRingWrapsAfterTenMessages();
    void syncMainRunsInlineOnMainThread();
    void syncMainFromPoolWaitsForMainThread();
    void asyncMainIsAlwaysQueued();
    void afterMainWithZeroDelayIsStillLater();
    void delayConversion_data();
    void delayConversion();
    void syncBackWaits();

    void makeString_data();
    void makeString();
    void makeDescriptionLines();
    void buildNumber_data();
    void buildNumber();
    void productSlug_data();
    void productSlug();
    void supportMailWithoutProblems();
    void supportMailCountsCrashReports();
    void otherChoicesOpenTheirPages();
    void unknownChoiceOpensNothing();
    void crashLogsFromBothFolders();
    void adminMembership_data();
    void adminMembership();
    void frameworkLinkCheck();
    void tempFolderIsNamedAfterTheBundle();
    void defaultsKeyReadsAndWrites();

private:
    std::unique_ptr<VolumeFixture> m_volume;
};

void KestrumTest::initTestCase()
{
    m_volume = std::make_unique<VolumeFixture>();
    static Kestrum shared;
    QVERIFY(hx == &shared);
    QVERIFY(QFileInfo(m_volume->physical(hx->suppDir())).isDir());
    QCOMPARE(hx->suppDir(), QStringLiteral("/Users/tester/Library/Application Support/Dorvane"));
}

void KestrumTest::logRingWrapsAfterTenMessages()
{
    // Level 7 is used by nobody else in this process, so its ring starts at 0.
    for (int i = 0; i < 11; ++i)
        asl_NSLog(7, "message %i", i);
    auto &defaults = platform::UserDefaults::standard();
    QVERIFY(defaults.storedObject(logRingKey(7, 0)).toString().endsWith(" message: message 10"));
    QVERIFY(defaults.storedObject(logRingKey(7, 1)).toString().endsWith(" message: message 1"));
    QVERIFY(defaults.storedObject(logRingKey(7, 9)).toString().endsWith(" message: message 9"));
    QVERIFY(defaults.storedObject(logRingKey(7, 0)).toString().startsWith("date: "));
    QCOMPARE(logRingKey(3, 9), QStringLiteral("kestrum_asl_lev3_pos9"));
    // The next message goes to position 1.
    asl_NSLog(7, "message %i", 11);
    QVERIFY(defaults.storedObject(logRingKey(7, 1)).toString().endsWith(" message: message 11"));
}

void KestrumTest::syncMainRunsInlineOnMainThread()
{
    bool ran = false;
    dispatch_sync_main([&] { ran = true; });
    QVERIFY(ran);
}

void KestrumTest::syncMainFromPoolWaitsForMainThread()
{
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> sawResultAfterReturn{false};
    std::atomic<bool> finished{false};
    QThreadPool::globalInstance()->start([&] {
        bool set = false;
        dispatch_sync_main([&] {
            ranOnMain = QThread::currentThread() == qApp->thread();
            set = true;
        });
        sawResultAfterReturn = set;
        finished = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(finished.load(), 5000);
    QVERIFY(ranOnMain);
    QVERIFY(sawResultAfterReturn);
}

void KestrumTest::asyncMainIsAlwaysQueued()
{
    bool ran = false;
    dispatch_async_main([&] { ran = true; });
    QVERIFY(!ran);
    QTRY_VERIFY(ran);
}

void KestrumTest::afterMainWithZeroDelayIsStillLater()
{
    bool ran = false;
    dispatch_after_main([&] { ran = true; }, 0.0f);
    QVERIFY(!ran);
    QTRY_VERIFY(ran);

    std::atomic<bool> ranInBackground{false};
    QElapsedTimer timer;
    timer.start();
    dispatch_after_back([&] { ranInBackground = QThread::currentThread() != qApp->thread(); }, 0.2f);
    QTRY_VERIFY(ranInBackground.load());
    QVERIFY(timer.elapsed() >= 190);
}

void KestrumTest::delayConversion_data()
{
    QTest::addColumn<float>("seconds");
    QTest::addColumn<long long>("nanoseconds");
    QTest::newRow("zero") << 0.0f << 0LL;
    QTest::newRow("half") << 0.5f << 500000000LL;
    // Single precision: 30 s becomes a little more than thirty billion.
    QTest::newRow("thirty") << 30.0f << 30000001024LL;
    // Single precision: 0.1 s is not quite a hundred million nanoseconds.
    QTest::newRow("tenth") << 0.1f << static_cast<long long>(0.1f * 1e9f);
}

void KestrumTest::delayConversion()
{
    QFETCH(float, seconds);
    QFETCH(long long, nanoseconds);
    QCOMPARE(dispatchDelayNanoseconds(seconds), nanoseconds);
}

void KestrumTest::syncBackWaits()
{
    std::atomic<bool> onPool{false};
    int value = 0;
    dispatch_sync_back([&] {
        onPool = QThread::currentThread() != qApp->thread();
        value = 7;
    });
    QCOMPARE(value, 7);
    QVERIFY(onPool);
}

void KestrumTest::makeString_data()
{
    QTest::addColumn<QString>("formatted");
    QTest::addColumn<QString>("expected");
    QTest::newRow("statistics") << kestrum::makeString("%lu Packages  %.1f MB", 12u, 3.14159)
                                << "12 Packages  3.1 MB";
    QTest::newRow("objects") << kestrum::makeString("v%@ (%i)", "1.2", 34) << "v1.2 (34)";
    QTest::newRow("percent") << kestrum::makeString("100%% of %@", QStringLiteral("it")) << "100% of it";
    QTest::newRow("missing object") << kestrum::makeString("a%@b") << "a(null)b";
    QTest::newRow("missing number") << kestrum::makeString("a%ib") << "a0b";
    QTest::newRow("negative long") << kestrum::makeString("%li", -5L) << "-5";
    QTest::newRow("array") << kestrum::makeString("%@", QStringList{"a", "b"}) << "(\n    a,\n    b\n)";
    QTest::newRow("unicode") << kestrum::makeString("%@ […] %@", "x", "y") << "x […] y";
}

void KestrumTest::makeString()
{
    QFETCH(QString, formatted);
    QFETCH(QString, expected);
    QCOMPARE(formatted, expected);
}

void KestrumTest::makeDescriptionLines()
{
    const QVariantMap object{{"name", QStringLiteral("Foo")}, {"size", qint64(12)}};
    QCOMPARE(makeDescription(object, {"name", "size"}), QStringLiteral("\nname: Foo\nsize: 12"));
    QCOMPARE(makeDescription(object, {}), QString());
}

void KestrumTest::buildNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");
    QTest::newRow("plain") << "1234" << 1234;
    QTest::newRow("leading digits") << "12a" << 12;
    QTest::newRow("absent") << QString() << 0;
    QTest::newRow("not numeric") << "abc" << 0;
    QTest::newRow("too large") << "99999999999" << INT32_MAX;
}

void KestrumTest::buildNumber()
{
    QFETCH(QString, text);
    QFETCH(int, number);
    QCOMPARE(Kestrum::parseBuildNumber(text), number);
}

void KestrumTest::productSlug_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("slug");
    QTest::newRow("hyphen and words") << "Foo-Bar Pro" << "foo";
    QTest::newRow("one word") << "Dorvane" << "dorvane";
    QTest::newRow("two words") << "Big App" << "big";
}

void KestrumTest::productSlug()
{
    QFETCH(QString, name);
    QFETCH(QString, slug);
    QCOMPARE(Kestrum::productSlug(name), slug);
}

static QString expectedSupportMail(const QString &problems)
{
    const QString body = QStringLiteral("<Insert Support Request Here>\n\n\n\nP.S: Hardware: %1 Software: %2%3\n")
                             .arg(_machineType(), platform::Host::operatingSystemVersion(), problems);
    const QString text = QStringLiteral("mailto:support@dorvane.example?subject=Dorvane v%1 (%2) Support Request&body=%3")
                             .arg(hx->appVersionString())
                             .arg(hx->appBuildNumber())
                             .arg(body);
    return QString::fromLatin1(text.toUtf8().toPercentEncoding("!$&'()*+,/:;=?@"));
}

void KestrumTest::supportMailWithoutProblems()
{
    UrlRecorder recorder;
    hx->openURL(openSupportMail);
    QCOMPARE(recorder.urls().size(), 1);
    const QString url = QString::fromLatin1(recorder.urls().first().toEncoded());
    QCOMPARE(url, expectedSupportMail(QString()));
    QVERIFY(!url.contains("Problems"));
    // The line breaks of the body are encoded; the body ends in one.
    QVERIFY(url.endsWith("%0A"));
}

void KestrumTest::supportMailCountsCrashReports()
{
    m_volume->writeFile("~/Library/Logs/DiagnosticReports/Dorvane_2026-12-01-101010_mac.crash", "report");
    UrlRecorder recorder;
    hx->openURL(openSupportMail);
    QCOMPARE(QString::fromLatin1(recorder.urls().value(0).toEncoded()), expectedSupportMail(" Problems: 1"));
    QDir(m_volume->physical("~/Library/Logs")).removeRecursively();
}

void KestrumTest::otherChoicesOpenTheirPages()
{
    UrlRecorder recorder;
    hx->openURL(openBetaMail);
    hx->openURL(openVendorPage);
    hx->openURL(openStorePage);
    hx->openURL(openStoreApp);
    hx->openURL(openMacupdatePage);
    QCOMPARE(recorder.urls().size(), 5);
    QCOMPARE(QString::fromLatin1(recorder.urls().at(0).toEncoded()),
             QStringLiteral("mailto:support@dorvane.example?subject=Dorvane%20Beta%20Versions&body=Hello%0AI%20would"
                            "%20like%20to%20test%20upcoming%20beta%20versions%20of%20Dorvane.%0ABye%0A"));
    QCOMPARE(recorder.urls().at(1).toString(), QStringLiteral("https://www.dorvane.example/dorvane/"));
    QVERIFY(recorder.urls().at(2).toString().startsWith("https://apps.apple.com/"));
    QCOMPARE(recorder.urls().at(3).toString(),
             recorder.urls().at(2).toString().replace("https://", "macappstore://"));
    QVERIFY(recorder.urls().at(4).toString().startsWith("https://www.macupdate.com/"));
}

void KestrumTest::unknownChoiceOpensNothing()
{
    UrlRecorder recorder;
    hx->openURL(0);
    hx->openURL(7);
    hx->openURL(255);
    QVERIFY(recorder.urls().isEmpty());
}

void KestrumTest::crashLogsFromBothFolders()
{
    m_volume->writeFile("~/Library/Logs/DiagnosticReports/dorvane_2026-12-02_mac.crash");
    m_volume->writeFile("~/Library/Logs/DiagnosticReports/Other_2026-12-02_mac.crash");
    m_volume->writeFile("/Library/Logs/DiagnosticReports/DORVANE_2026-12-03_mac.crash");
    m_volume->writeFile("/Library/Logs/DiagnosticReports/Dörvane-accented.crash");
    const QStringList names = hx->appCrashLogs();
    QCOMPARE(names.size(), 3);
    QCOMPARE(names.first(), QStringLiteral("dorvane_2026-12-02_mac.crash"));
    QVERIFY(names.contains("DORVANE_2026-12-03_mac.crash"));
    QVERIFY(names.contains(QStringLiteral("Dörvane-accented.crash")));
    QDir(m_volume->physical("~/Library/Logs")).removeRecursively();
    QDir(m_volume->physical("/Library/Logs")).removeRecursively();
    QVERIFY(hx->appCrashLogs().isEmpty());
}

void KestrumTest::adminMembership_data()
{
    QTest::addColumn<QByteArray>("login");
    QTest::addColumn<QList<QByteArray>>("members");
    QTest::addColumn<bool>("admin");
    QTest::newRow("listed") << QByteArray("ann") << QList<QByteArray>{"root", "ann"} << true;
    QTest::newRow("not listed") << QByteArray("bob") << QList<QByteArray>{"root", "ann"} << false;
    QTest::newRow("empty group") << QByteArray("ann") << QList<QByteArray>{} << false;
    QTest::newRow("prefix only") << QByteArray("an") << QList<QByteArray>{"ann"} << false;
    QTest::newRow("case differs") << QByteArray("Ann") << QList<QByteArray>{"ann"} << false;
}

void KestrumTest::adminMembership()
{
    QFETCH(QByteArray, login);
    QFETCH(QList<QByteArray>, members);
    QFETCH(bool, admin);
    QCOMPARE(platform::Host::isListedMember(login, members), admin);
}

void KestrumTest::frameworkLinkCheck()
{
    QTemporaryDir dir;
    const QString frameworks = dir.path() + "/Frameworks";
    QVERIFY(Kestrum::frameworksAreIntact(frameworks)); // no folder: nothing to check
    QDir().mkpath(frameworks + "/Good.framework/Versions/A");
    QVERIFY(QFile::link("Versions/A/Good", frameworks + "/Good.framework/Good"));
    QVERIFY(Kestrum::frameworksAreIntact(frameworks));
    // An extracted archive that lost its links holds a plain file instead.
    QDir().mkpath(frameworks + "/Bad.framework");
    QFile bad(frameworks + "/Bad.framework/Bad");
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.close();
    QVERIFY(!Kestrum::frameworksAreIntact(frameworks));
}

void KestrumTest::tempFolderIsNamedAfterTheBundle()
{
    const QString a = makeTempFolder();
    const QString b = makeTempFolder();
    QVERIFY(QFileInfo(a).isDir());
    QVERIFY(a != b);
    QVERIFY(QFileInfo(a).fileName().startsWith(hx->appBundleIdentifier() + "."));
    QCOMPARE(QFileInfo(a).fileName().size(), hx->appBundleIdentifier().size() + 7);
    QDir(a).removeRecursively();
    QDir(b).removeRecursively();
}

void KestrumTest::defaultsKeyReadsAndWrites()
{
    const DefaultsKey key("SomeNumber");
    QCOMPARE(key.defaultInt(), 0);
    key.setDefaultInt(41);
    QCOMPARE("SomeNumber"_key.defaultInt(), 41);
    key.setDefaultString(" 12abc");
    QCOMPARE(key.defaultString(), QStringLiteral(" 12abc"));
    QCOMPARE(key.defaultInt(), 12); // a stored text reads as its leading number
    QVERIFY(key.defaultArray().isEmpty());
    key.setDefaultArray(QStringList{"a", "b"});
    QCOMPARE(key.defaultStringArray(), (QStringList{"a", "b"}));
    key.setDefaultObject(QVariant());
    QVERIFY(!key.defaultObject().isValid());
    QVERIFY(!platform::UserDefaults::standard().persistentDomain().contains("SomeNumber"));
}

QTEST_MAIN(KestrumTest)
#include "tst_kestrum.moc"
