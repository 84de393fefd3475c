#include "dorvane/ProtectionStatus.h"
#include "dorvane/Settings.h"
#include "kestrum/DefaultsKey.h"
#include "support/LogRing.h"
#include "support/VolumeFixture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <array>

using namespace dorvane;
using kestrum::DefaultsKey;

// The stored lists and the flags of migrations 1 to 3 (didUpdate, didUpdate2,
// didUpdate3) before and after, and which list the migrations reset.
struct Migration
{
    QStringList storedFolders, storedInstallers;
    std::array<int, 3> flagsBefore, flagsAfter;
    bool foldersReset, installersReset;
};

class SettingsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Settings::registerDefaults(); }
    void init() { m_volume = std::make_unique<VolumeFixture>(); }
    void cleanup() { m_volume.reset(); }

    // The registered lists hold every entry the migrations look for, so a new
    // user's lists are never reset.
    void freshUserRunsNoMigration()
    {
        Settings::runMigrations();
        QCOMPARE(platform::UserDefaults::standard().persistentDomain(), QVariantMap());
    }

    void migrations_data()
    {
        QTest::addColumn<Migration>("m");
        const QStringList installers = Settings::defaultIgnoredInstallers();
        const QStringList folders = Settings::defaultIgnoredSystemFolders();
        QTest::newRow("lacks /var/ and /sbin/: migration 1 alone runs")
            << Migration{{"/System/"}, installers, {0, 0, 0}, {1, 0, 0}, true, false};
        QTest::newRow("lacks /sbin/ after migration 1 ran")
            << Migration{{"/var/"}, installers, {1, 0, 0}, {1, 1, 0}, true, false};
        QTest::newRow("lacks both but both flags set: nothing")
            << Migration{{"/System/"}, installers, {1, 1, 0}, {1, 1, 0}, false, false};
        QTest::newRow("installers lack systemmigrationd")
            << Migration{folders, {"Xcode"}, {0, 0, 0}, {0, 0, 1}, false, true};
        QTest::newRow("installers edited after migration 3")
            << Migration{folders, {"Xcode"}, {0, 0, 1}, {0, 0, 1}, false, false};
    }

    void migrations()
    {
        QFETCH(Migration, m);
        const DefaultsKey folders(Settings::kIgnoredSystemFolders);
        const DefaultsKey installers(Settings::kIgnoredInstallers);
        const DefaultsKey flags[] = {DefaultsKey(Settings::kDidUpdate), DefaultsKey(Settings::kDidUpdate2),
                                     DefaultsKey(Settings::kDidUpdate3)};
        folders.setDefaultArray(m.storedFolders);
        installers.setDefaultArray(m.storedInstallers);
        for (int i = 0; i < 3; ++i) {
            if (m.flagsBefore[i])
                flags[i].setDefaultInt(m.flagsBefore[i]);
        }

        Settings::runMigrations();

        for (int i = 0; i < 3; ++i)
            QCOMPARE(flags[i].defaultInt(), m.flagsAfter[i]);
        QCOMPARE(folders.defaultStringArray(),
                 m.foldersReset ? Settings::defaultIgnoredSystemFolders() : m.storedFolders);
        QCOMPARE(installers.defaultStringArray(),
                 m.installersReset ? Settings::defaultIgnoredInstallers() : m.storedInstallers);
        const QString reset = "Info: we resetted the ignored %1 because";
        QCOMPARE(wasLogged(kestrum::LogWarning, reset.arg("system folders")), m.foldersReset);
        QCOMPARE(wasLogged(kestrum::LogWarning, reset.arg("installers")), m.installersReset);
    }

    // What another process reading the file sees of a burst of log lines.
    void burstsAreWrittenOnce()
    {
        platform::UserDefaults &defaults = platform::UserDefaults::standard();
        const auto onDisk = [&](const char *key) {
            return platform::UserDefaults(defaults.domainName()).storedObject(QString::fromLatin1(key));
        };
        defaults.setObject("first", 1);
        QCOMPARE(onDisk("first"), QVariant(1));
        defaults.setObjectSoon("second", 2);   // just after a write: later
        QVERIFY(!onDisk("second").isValid());
        defaults.synchronize();
        QCOMPARE(onDisk("second"), QVariant(2));
        // A line a quarter second after the last write writes all before it.
        defaults.setObjectSoon("third", 3);
        const auto nextLineWritesIt = [&] {
            defaults.setObjectSoon("fourth", 4);
            return onDisk("third").isValid();
        };
        QTRY_VERIFY_WITH_TIMEOUT(nextLineWritesIt(), 2000);
    }

    void protectionFromOutput_data()
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

    void protectionFromOutput()
    {
        QFETCH(QString, output);
        QFETCH(bool, rootless);
        QCOMPARE(ProtectionStatus::isRootlessFromOutput(output), rootless);
    }

    void protectionFromTheTool()
    {
        QTemporaryDir dir;
        const QString tool = dir.filePath("csrutil");
        const QString marker = dir.filePath("ran");
        QFile file(tool);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // The verdict may come on either stream.
        file.write("#!/bin/sh\ntouch '" + marker.toUtf8() + "'\necho 'System Integrity Protection status: disabled.'\n"
                   "echo 'Filesystem Protections: disabled' >&2\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // A system older than the protection runs no tool and has none.
        QVERIFY(!ProtectionStatus::isRootless(ProtectionStatus::kFirstRootlessAppKit - 1, {tool, "status"}));
        QVERIFY(!QFile::exists(marker));
        QVERIFY(!ProtectionStatus::isRootless(ProtectionStatus::kFirstRootlessAppKit, {tool, "status"}));
        QVERIFY(QFile::exists(marker));
        // A tool that cannot start leaves the protection in force.
        QVERIFY(ProtectionStatus::isRootless(ProtectionStatus::kPlatformAppKitVersion,
                                             {"/nonexistent/usr/bin/csrutil", "status"}));
    }

private:
    std::unique_ptr<VolumeFixture> m_volume;
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
