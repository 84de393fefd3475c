#include "dorvane/ProtectionStatus.h"
#include "dorvane/Settings.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Log.h"
#include "platform/UserDefaults.h"
#include "support/VolumeFixture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace dorvane;
using kestrum::DefaultsKey;

class SettingsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void defaultListsAreWellFormed();
    void freshUserRunsNoMigration();
    void migrations_data();
    void migrations();
    void migrationThreeRunsOnlyOnce();
    void launchBookkeeping();

    void protectionFromOutput_data();
    void protectionFromOutput();
    void oldSystemRunsNoTool();
    void missingToolCountsAsProtected();
    void toolSaysDisabled();

private:
    std::unique_ptr<VolumeFixture> m_volume;
    QString warningsLogged() const;
};

void SettingsTest::initTestCase()
{
    Settings::registerDefaults();
}

void SettingsTest::init()
{
    m_volume = std::make_unique<VolumeFixture>();
}

void SettingsTest::cleanup()
{
    m_volume.reset();
}

// Every warning of this process kept in the log ring.
QString SettingsTest::warningsLogged() const
{
    QString all;
    for (int i = 0; i < 10; ++i)
        all += platform::UserDefaults::standard().storedObject(kestrum::logRingKey(kestrum::LogWarning, i)).toString();
    return all;
}

void SettingsTest::defaultListsAreWellFormed()
{
    QCOMPARE(Settings::defaultIgnoredInstallers().size(), 9);
    QCOMPARE(Settings::defaultIgnoredSystemFolders().size(), 15);
    for (const QString &folder : Settings::defaultIgnoredSystemFolders())
        QVERIFY2(folder.startsWith('/') && folder.endsWith('/'), qPrintable(folder));
    QCOMPARE(DefaultsKey(Settings::kIgnoredSystemFolders).defaultStringArray(), Settings::defaultIgnoredSystemFolders());
    QCOMPARE(DefaultsKey(Settings::kDeleteRemaining).defaultInt(), 1);
    QCOMPARE(DefaultsKey(Settings::kUpdateCheckMenuIndex).defaultInt(), 2);
}

void SettingsTest::freshUserRunsNoMigration()
{
    Settings::runMigrations();
    const QVariantMap stored = platform::UserDefaults::standard().persistentDomain();
    QVERIFY(!stored.contains(Settings::kDidUpdate));
    QVERIFY(!stored.contains(Settings::kDidUpdate2));
    QVERIFY(!stored.contains(Settings::kDidUpdate3));
    QVERIFY(!stored.contains(Settings::kIgnoredSystemFolders));
    QVERIFY(!warningsLogged().contains("we resetted"));
}

void SettingsTest::migrations_data()
{
    QTest::addColumn<QStringList>("storedFolders");
    QTest::addColumn<QStringList>("storedInstallers");
    QTest::addColumn<QList<int>>("flagsBefore");   // didUpdate, didUpdate2, didUpdate3
    QTest::addColumn<QList<int>>("flagsAfter");
    QTest::addColumn<bool>("foldersReset");
    QTest::addColumn<bool>("installersReset");

    const QStringList installers = Settings::defaultIgnoredInstallers();
    QTest::newRow("lacks /var/ and /sbin/: migration 1 alone runs")
        << QStringList{"/System/"} << installers << QList<int>{0, 0, 0} << QList<int>{1, 0, 0} << true << false;
    QTest::newRow("lacks /sbin/ only: migration 2 runs")
        << QStringList{"/System/", "/var/"} << installers << QList<int>{0, 0, 0} << QList<int>{0, 1, 0} << true
        << false;
    QTest::newRow("lacks /sbin/ after migration 1 ran")
        << QStringList{"/var/"} << installers << QList<int>{1, 0, 0} << QList<int>{1, 1, 0} << true << false;
    QTest::newRow("lacks both but both flags set: nothing")
        << QStringList{"/System/"} << installers << QList<int>{1, 1, 0} << QList<int>{1, 1, 0} << false << false;
    QTest::newRow("installers lack systemmigrationd")
        << Settings::defaultIgnoredSystemFolders() << QStringList{"Xcode"} << QList<int>{0, 0, 0}
        << QList<int>{0, 0, 1} << false << true;
}

void SettingsTest::migrations()
{
    QFETCH(QStringList, storedFolders);
    QFETCH(QStringList, storedInstallers);
    QFETCH(QList<int>, flagsBefore);
    QFETCH(QList<int>, flagsAfter);
    QFETCH(bool, foldersReset);
    QFETCH(bool, installersReset);

    const DefaultsKey folders(Settings::kIgnoredSystemFolders);
    const DefaultsKey installers(Settings::kIgnoredInstallers);
    const DefaultsKey flags[] = {DefaultsKey(Settings::kDidUpdate), DefaultsKey(Settings::kDidUpdate2),
                                 DefaultsKey(Settings::kDidUpdate3)};
    folders.setDefaultArray(storedFolders);
    installers.setDefaultArray(storedInstallers);
    for (int i = 0; i < 3; ++i) {
        if (flagsBefore[i])
            flags[i].setDefaultInt(flagsBefore[i]);
    }

    Settings::runMigrations();

    for (int i = 0; i < 3; ++i)
        QCOMPARE(flags[i].defaultInt(), flagsAfter[i]);
    QCOMPARE(folders.defaultStringArray(), foldersReset ? Settings::defaultIgnoredSystemFolders() : storedFolders);
    QCOMPARE(installers.defaultStringArray(), installersReset ? Settings::defaultIgnoredInstallers() : storedInstallers);
    if (foldersReset)
        QVERIFY(warningsLogged().contains("Info: we resetted the ignored system folders because"));
    if (installersReset)
        QVERIFY(warningsLogged().contains("Info: we resetted the ignored installers because"));
}

void SettingsTest::migrationThreeRunsOnlyOnce()
{
    const DefaultsKey installers(Settings::kIgnoredInstallers);
    installers.setDefaultArray(QStringList{"Xcode"});
    Settings::runMigrations();
    QVERIFY(installers.defaultStringArray().contains("systemmigrationd"));
    // The user takes it out again; it stays out.
    QStringList edited = installers.defaultStringArray();
    edited.removeAll("systemmigrationd");
    installers.setDefaultArray(edited);
    Settings::runMigrations();
    QCOMPARE(installers.defaultStringArray(), edited);
}

void SettingsTest::launchBookkeeping()
{
    DefaultsKey(Settings::kInitialToolTipDelay).setDefaultInt(750);
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    Settings::recordLaunchDate();
    Settings::resetToolTipDelay();
    Settings::countLaunch();
    Settings::countLaunch();
    QCOMPARE(DefaultsKey(Settings::kInitialToolTipDelay).defaultInt(), 1);
    QCOMPARE(DefaultsKey(Settings::kLaunches).defaultInt(), 2);
    const QDateTime stored = DefaultsKey(Settings::kLaunchDate).defaultObject().toDateTime();
    QVERIFY(stored >= before);
    QVERIFY(stored <= QDateTime::currentDateTimeUtc().addSecs(1));
}

void SettingsTest::protectionFromOutput_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("rootless");
    QTest::newRow("enabled") << "System Integrity Protection status: enabled." << true;
    QTest::newRow("custom configuration")
        << "System Integrity Protection status: enabled (Custom Configuration).\n\nConfiguration:\n"
           "\tApple Internal: disabled\n\tKext Signing: disabled\n\tFilesystem Protections: disabled\n"
        << false;
    QTest::newRow("case matters") << "filesystem protections: disabled" << true;
    QTest::newRow("empty") << QString() << true;
}

void SettingsTest::protectionFromOutput()
{
    QFETCH(QString, output);
    QFETCH(bool, rootless);
    QCOMPARE(ProtectionStatus::isRootlessFromOutput(output), rootless);
}

static QString writeScript(const QTemporaryDir &dir, const QByteArray &body)
{
    const QString path = dir.filePath("csrutil");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

void SettingsTest::oldSystemRunsNoTool()
{
    QTemporaryDir dir;
    const QString marker = dir.filePath("ran");
    const QString tool = writeScript(dir, "touch '" + marker.toUtf8() + "'\n");
    QVERIFY(!ProtectionStatus::isRootless(1403.0, {tool, "status"}));
    QVERIFY(!QFile::exists(marker));
    QVERIFY(ProtectionStatus::isRootless(1404.0, {tool, "status"}));
    QVERIFY(QFile::exists(marker));
}

void SettingsTest::missingToolCountsAsProtected()
{
    QVERIFY(ProtectionStatus::isRootless(ProtectionStatus::kPlatformAppKitVersion,
                                         {"/nonexistent/usr/bin/csrutil", "status"}));
}

void SettingsTest::toolSaysDisabled()
{
    QTemporaryDir dir;
    // The verdict may come on either stream.
    const QString tool = writeScript(dir, "echo 'System Integrity Protection status: disabled.'\n"
                                          "echo 'Filesystem Protections: disabled' >&2\n");
    QVERIFY(!ProtectionStatus::isRootless(ProtectionStatus::kPlatformAppKitVersion, {tool, "status"}));
}

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
