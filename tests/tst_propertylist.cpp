#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "support/VolumeFixture.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QThread>

using namespace platform;

class PropertyListTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void readsTheLegacyReceiptSample();
    void rejectsWhatIsNotAPropertyList_data();
    void rejectsWhatIsNotAPropertyList();

    void registeredDefaultsAreNeverWritten();
    void preferenceFileIsReadableByAnotherReader();
    void settingInvalidValueRemovesKey();
    void concurrentWritersLoseNothing();
};

static QVariantMap sampleDictionary()
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

void PropertyListTest::roundTrip_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("xml") << int(PropertyList::Format::Xml);
    QTest::newRow("binary") << int(PropertyList::Format::Binary);
}

void PropertyListTest::roundTrip()
{
    QFETCH(int, format);
    const QVariantMap original = sampleDictionary();
    const QByteArray bytes = PropertyList::toData(original, PropertyList::Format(format));
    QVERIFY(!bytes.isEmpty());
    QString error;
    const QVariantMap back = PropertyList::fromData(bytes, &error).toMap();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(back.keys(), original.keys());
    for (auto it = original.cbegin(); it != original.cend(); ++it)
        QCOMPARE(back.value(it.key()), it.value());
}

void PropertyListTest::readsTheLegacyReceiptSample()
{
    QString error;
    const QVariantMap info =
        PropertyList::readFile(DORVANE_SAMPLES_DIR "/pyobjc-InstallerPluginsTestPackage-Info.plist", &error).toMap();
    QVERIFY2(!info.isEmpty(), qPrintable(error));
    QVERIFY(info.contains("CFBundleIdentifier"));
    QVERIFY(info.contains("IFPkgFlagDefaultLocation"));
}

void PropertyListTest::rejectsWhatIsNotAPropertyList_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("hello, world");
    QTest::newRow("truncated binary") << QByteArray("bplist00\xd1\x01\x02", 11);
    QTest::newRow("unclosed xml") << QByteArray("<?xml version=\"1.0\"?><plist><dict><key>a</key>");
}

void PropertyListTest::rejectsWhatIsNotAPropertyList()
{
    QFETCH(QByteArray, bytes);
    QString error;
    QVERIFY(!PropertyList::fromData(bytes, &error).isValid());
    QVERIFY(!error.isEmpty());
}

void PropertyListTest::registeredDefaultsAreNeverWritten()
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

void PropertyListTest::preferenceFileIsReadableByAnotherReader()
{
    VolumeFixture volume;
    UserDefaults defaults(QStringLiteral("com.example.reader"));
    QCOMPARE(defaults.logicalFilePath(), QStringLiteral("/Users/tester/Library/Preferences/com.example.reader.plist"));
    defaults.setObject("IgnoredInstallers", QVariantList{QStringLiteral("App Store"), QStringLiteral("Xcode")});
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

void PropertyListTest::settingInvalidValueRemovesKey()
{
    VolumeFixture volume;
    UserDefaults defaults(QStringLiteral("com.example.remove"));
    defaults.setObject("a", QStringLiteral("x"));
    defaults.setObject("a", QVariant());
    UserDefaults reread(QStringLiteral("com.example.remove"));
    QVERIFY(!reread.storedObject("a").isValid());
    QVERIFY(reread.persistentDomain().isEmpty());
}

void PropertyListTest::concurrentWritersLoseNothing()
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

QTEST_GUILESS_MAIN(PropertyListTest)
#include "tst_propertylist.moc"
