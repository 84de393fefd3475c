#include "dorvane/catalogue/CatalogueScanner.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "support/BuiltVolume.h"
#include "support/LogRing.h"

#include "VolumeBuilder.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QThread>

using namespace platform;

namespace {

const QString kCrashers = QStringLiteral(DORVANE_CRASHERS_DIR "/");

QVariantMap sampleDictionary()
{
    return {
        {"text", QStringLiteral("Grüße \"quoted\" <tag> & more")},
        {"integer", qint64(-42)},
        {"large", qint64(1) << 40},
        {"real", 2.5},
        {"yes", true},
        {"date", QDateTime(QDate(2026, 12, 6), QTime(2, 10, 0), Qt::UTC)},
        {"old date", QDateTime(QDate(1999, 1, 2), QTime(3, 4, 5), Qt::UTC)},
        {"data", QByteArray("\x00\x01\xfe\xff", 4)},
        {"array", QVariantList{QStringLiteral("a"), qint64(1), QVariantList{}}},
        {"dict", QVariantMap{{"nested", QStringLiteral("value")}}},
    };
}

} // namespace

class PropertyListTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("xml") << int(PropertyList::Format::Xml);
        QTest::newRow("binary") << int(PropertyList::Format::Binary);
    }

    void roundTrip()
    {
        QFETCH(int, format);
        const QVariantMap original = sampleDictionary();
        const QByteArray bytes = PropertyList::toData(original, PropertyList::Format(format));
        QVERIFY(!bytes.isEmpty());
        QString error;
        const QVariantMap back = PropertyList::fromData(bytes, &error).toMap();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(back, original);
    }

    // The fuzz corpus and the shared files: "seed-" files and the samples are real
    // lists that read and write back unchanged; every other file (a crasher, a
    // fuzzer's finding, a hand-made hostile list) gives a message, not a crash.
    void readsSeedsAndRejectsHostileInputs_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("valid");
        const QDir corpus(QFINDTESTDATA("../fuzz/corpus/plist"));
        const QDir samples(DORVANE_SAMPLES_DIR);
        QVERIFY(corpus.exists() && samples.exists());
        for (const QString &name : corpus.entryList(QDir::Files))
            QTest::newRow(qPrintable(name)) << corpus.filePath(name) << name.startsWith("seed-");
        for (const QString &name : samples.entryList({"*.plist"}, QDir::Files))
            QTest::newRow(qPrintable(name)) << samples.filePath(name) << true;
        for (const QString &name : QDir(kCrashers).entryList({"*.plist"}, QDir::Files))
            QTest::newRow(qPrintable(name)) << kCrashers + name << false;
    }

    void readsSeedsAndRejectsHostileInputs()
    {
        QFETCH(QString, path);
        QFETCH(bool, valid);
        QString error;
        const QVariant value = PropertyList::fromData(fileContents(path), &error);
        QVERIFY2(value.isValid() == valid, qPrintable(error));
        QCOMPARE(error.isEmpty(), valid);
        if (valid)
            QCOMPARE(PropertyList::fromData(PropertyList::toData(value, PropertyList::Format::Binary)), value);
    }

    // Hostile receipts beside their bills, and a hostile Info.plist in a listed
    // application, read through the scan the window and "dorvane list" run.
    void hostileFilesOnAVolumeAreLeftOut()
    {
        BuiltVolume volume;
        volumegen::Package system = package("com.example.system", {}), user = package("com.example.user", {});
        system.applications = {app("/Applications/Good.app", QString(), "com.example.good")};
        user.location = volumegen::Package::User;
        volume.builder.addReceipt(system);
        volume.builder.addReceipt(user);
        QVERIFY(volume.builder.write());
        QVERIFY(volume.writeFile("/Applications/Good.app/Contents/Info.plist",
                                 fileContents(kCrashers + "receipt-key-with-nul.plist")));

        const QString receipts = volume.home() + "/Library/Receipts/";
        const QByteArray bill = fileContents(volume.physical(receipts + "com.example.user.bom"));
        const QMap<QString, QByteArray> hostile{
            {"string-with-nul", fileContents(kCrashers + "receipt-string-with-nul.plist")},
            {"key-with-nul", fileContents(kCrashers + "receipt-key-with-nul.plist")},
            {"deep", "<?xml version=\"1.0\"?><plist version=\"1.0\">" + QByteArray("<array>").repeated(200000)
                         + QByteArray("</array>").repeated(200000) + "</plist>"},
        };
        for (auto it = hostile.cbegin(); it != hostile.cend(); ++it) {
            QVERIFY(!it.value().isEmpty() && !bill.isEmpty());
            QVERIFY(volume.writeFile(receipts + it.key() + ".plist", it.value()));
            QVERIFY(volume.writeFile(receipts + it.key() + ".bom", bill));
        }

        QElapsedTimer timer;
        timer.start();
        const std::optional<dorvane::Catalogue> catalogue = dorvane::CatalogueScanner::scan(QString());
        QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(catalogue);
        QStringList listed;
        for (const dorvane::PackageRecord &record : catalogue->installerPackages + catalogue->allPackages) {
            listed.append(record.packageIdentifier());
            if (record.packageIdentifier() == "com.example.system") {
                QCOMPARE(record.appPaths(), QStringList{"/Applications/Good.app/"});
                QVERIFY(record.appBuIDs().isEmpty()); // its Info.plist cannot be read
            }
        }
        listed.sort();
        QCOMPARE(listed, (QStringList{"com.example.system", "com.example.user"}));
        for (const QString &name : hostile.keys()) {
            const QString line = "Error: damaged receipt installed " + receipts + name + ".plist";
            QVERIFY2(wasLogged(kestrum::LogError, line), qPrintable(line));
        }
    }

    void registeredDefaultsAreNeverWritten()
    {
        VolumeFixture volume;
        UserDefaults defaults(QStringLiteral("com.example.registered"));
        defaults.registerDefaults({{"Launches", qint64(0)}, {"List", QVariantList{QStringLiteral("a")}}});
        QCOMPARE(defaults.object("List").toList().size(), 1);
        QVERIFY(!QFile::exists(volume.physical(defaults.logicalFilePath())));

        defaults.setObject("Other", qint64(5));
        const QVariantMap stored = PropertyList::readFile(volume.physical(defaults.logicalFilePath())).toMap();
        QCOMPARE(stored, (QVariantMap{{"Other", qint64(5)}}));
        // A stored value wins over the registered one, and removing it brings
        // the registered one back.
        defaults.setObject("Launches", qint64(3));
        QCOMPARE(defaults.object("Launches").toLongLong(), 3);
        defaults.removeObject("Launches");
        QCOMPARE(defaults.object("Launches").toLongLong(), 0);
    }

    void preferenceFileIsReadableByAnotherReader()
    {
        VolumeFixture volume;
        UserDefaults defaults(QStringLiteral("com.example.reader"));
        QCOMPARE(defaults.logicalFilePath(), "/Users/tester/Library/Preferences/com.example.reader.plist");
        defaults.setObject("IgnoredInstallers", QVariantList{"App Store", "Xcode"});
        defaults.setObject("Launches", qint64(7));
        defaults.setObject("launchDate", QDateTime(QDate(2026, 12, 6), QTime(1, 2, 3), Qt::UTC));

        QString error;
        const QByteArray json = readPlistIndependently(volume.physical(defaults.logicalFilePath()), &error);
        if (json.isEmpty())
            QSKIP(qPrintable("no independent reader: " + error));
        const QJsonObject object = QJsonDocument::fromJson(json).object();
        QCOMPARE(object.value("Launches").toInt(), 7);
        QCOMPARE(object.value("IgnoredInstallers").toArray().at(1).toString(), QStringLiteral("Xcode"));
        QCOMPARE(object.value("launchDate").toString(), QStringLiteral("2026-12-06T01:02:03"));
    }

    void settingInvalidValueRemovesKey()
    {
        VolumeFixture volume;
        UserDefaults defaults(QStringLiteral("com.example.remove"));
        defaults.setObject("a", QStringLiteral("x"));
        defaults.setObject("a", QVariant());
        UserDefaults reread(QStringLiteral("com.example.remove"));
        QVERIFY(!reread.storedObject("a").isValid());
        QVERIFY(reread.persistentDomain().isEmpty());
    }

    void concurrentWritersLoseNothing()
    {
        VolumeFixture volume;
        UserDefaults defaults(QStringLiteral("com.example.threads"));
        QList<QThread *> threads;
        for (int t = 0; t < 4; ++t) {
            threads.append(QThread::create([&defaults, t] {
                for (int i = 0; i < 25; ++i)
                    defaults.setObject(QStringLiteral("t%1_%2").arg(t).arg(i), qint64(i));
            }));
            threads.last()->start();
        }
        for (QThread *thread : threads) {
            QVERIFY(thread->wait(30000));
            delete thread;
        }
        UserDefaults reread(QStringLiteral("com.example.threads"));
        QCOMPARE(reread.persistentDomain().size(), 100);
        QCOMPARE(reread.storedObject("t3_24").toLongLong(), 24);
    }

    void unreadablePreferencesAreKept()
    {
        VolumeFixture volume;
        UserDefaults defaults(QStringLiteral("com.example.hostile"));
        const QString file = volume.physical(defaults.logicalFilePath());
        const QByteArray hostile = fileContents(kCrashers + "receipt-key-with-nul.plist");
        QVERIFY(volume.writeFile(defaults.logicalFilePath(), hostile));
        defaults.registerDefaults({{"Launches", qint64(2)}});
        QCOMPARE(defaults.object("Launches").toLongLong(), 2);
        QVERIFY(defaults.persistentDomain().isEmpty());
        QCOMPARE(fileContents(file), hostile); // reading leaves it alone

        defaults.setObject("Launches", qint64(3));
        QCOMPARE(fileContents(file + ".unreadable"), hostile);
        QCOMPARE(PropertyList::readFile(file).toMap(), (QVariantMap{{"Launches", qint64(3)}}));
        defaults.setObject("Other", true); // moved aside once only
        QCOMPARE(fileContents(file + ".unreadable"), hostile);
    }
};

QTEST_GUILESS_MAIN(PropertyListTest)
#include "tst_propertylist.moc"
