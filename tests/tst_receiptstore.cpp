#include "platform/Volume.h"
#include "dorvane/receipts/PackageHelperNative.h"
#include "kestrum/Log.h"
#include "platform/PropertyList.h"
#include "support/BuiltVolume.h"
#include "support/LogRing.h"

#include <QFile>
#include <QTest>

#include <sys/stat.h>

using namespace dorvane;
using volumegen::Damage;
using volumegen::PathItem;
using volumegen::Package;

class ReceiptStoreTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_volume = std::make_unique<BuiltVolume>(); }
    void cleanup() { m_volume.reset(); }

    void emptyVolumeGivesNothingSilently();
    void recordsInOrderWithTheirKeys();
    void installLocation_data();
    void installLocation();
    void filesFollowTheBillWithTheirPrefix();
    void badReceipts_data();
    void badReceipts();
    void unreadableFilesAreRefusedUnread_data();
    void unreadableFilesAreRefusedUnread();
    void legacyBundles_data();
    void legacyBundles();
    void bsdBundleWithoutInfoIsSilent();
    void unopenableReceiptStillListsFiles();
    void realSampleInfoPlistAsLegacyBundle();

private:
    std::unique_ptr<BuiltVolume> m_volume;

    QList<PackageRecord> writeAndRead(const QList<Package> &described)
    {
        writeReceipts(m_volume->builder, described);
        return PackageHelperNative::getPackages();
    }
};

static Package receipt(const QString &identifier, Package::Location location = Package::System)
{
    Package item;
    item.identifier = identifier;
    item.location = location;
    item.paths = {PathItem::folder("Library"), PathItem::folder("Library/" + identifier),
                  PathItem::file("Library/" + identifier + "/data", 100)};
    return item;
}

void ReceiptStoreTest::emptyVolumeGivesNothingSilently()
{
    const QStringList before = loggedMessages(kestrum::LogError);
    QVERIFY(PackageHelperNative::getPackages().isEmpty());          // no folders at all
    m_volume->builder.addStandardFolders();
    QVERIFY(m_volume->builder.write());
    QVERIFY(PackageHelperNative::getPackages().isEmpty());          // empty folders
    QCOMPARE(loggedMessages(kestrum::LogError), before);
}

// System receipts come first, then the user's, then legacy bundles; a
// record keeps its receipt's keys, and only the extension is replaced to
// find the bill, not "plist" inside the identifier.
void ReceiptStoreTest::recordsInOrderWithTheirKeys()
{
    Package item = receipt("com.plistkeys");
    item.packageGroups = {"com.example.group"};
    item.installProcessName = "Software Update";
    const QList<PackageRecord> records = writeAndRead({receipt("com.example.legacy", Package::Legacy),
                                                       receipt("com.example.user", Package::User), item});
    QCOMPARE(records.size(), 3);
    QCOMPARE(records.at(0).packageIdentifier(), QStringLiteral("com.plistkeys"));
    QCOMPARE(records.at(1).packageIdentifier(), QStringLiteral("com.example.user"));
    QCOMPARE(records.at(2).packageIdentifier(), QStringLiteral("com.example.legacy"));
    QVERIFY(records.at(1).hasUserPrefix());
    QVERIFY(!records.at(0).contains(PackageKey::UserPrefix)); // never stored as false
    QVERIFY(records.at(2).isLegacy());
    QCOMPARE(records.at(2).pkgPath(), QStringLiteral("/Library/Receipts/legacy.pkg"));
    QCOMPARE(records.at(2).packageFileName(), QStringLiteral("legacy.pkg"));
    QVERIFY(!records.at(2).contains(PackageKey::InstallProcessName));
    const PackageRecord &record = records.first();
    QCOMPARE(record.plistPath(), QStringLiteral("/private/var/db/receipts/com.plistkeys.plist"));
    QCOMPARE(record.bomPath(), QStringLiteral("/private/var/db/receipts/com.plistkeys.bom"));
    QCOMPARE(record.installProcessName(), QStringLiteral("Software Update"));
    QCOMPARE(record.value("PackageGroups").toStringList(), QStringList{"com.example.group"});
    QCOMPARE(record.value("InstallDate").typeId(), QMetaType::QDateTime);
    QVERIFY(!record.isDamaged());
}

void ReceiptStoreTest::installLocation_data()
{
    QTest::addColumn<int>("location");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("expected");
    QTest::newRow("system relative") << int(Package::System) << "Applications" << "/Applications/";
    QTest::newRow("system root") << int(Package::System) << "/" << "/";
    QTest::newRow("system absolute, no slash") << int(Package::System) << "/opt/tool" << "/opt/tool/";
    QTest::newRow("user relative") << int(Package::User) << "Applications" << "/Users/tester/Applications/";
    QTest::newRow("user root") << int(Package::User) << "/" << "/Users/tester/";
    QTest::newRow("legacy") << int(Package::Legacy) << "/Library/Fonts" << "/Library/Fonts/";
    // Odd spellings name the place they lead to; a user package's prefix
    // never leaves the home folder.
    QTest::newRow("climbing") << int(Package::System) << "Applications/.." << "/";
    QTest::newRow("dot slash") << int(Package::System) << "./" << "/";
    QTest::newRow("dot") << int(Package::System) << "." << "/";
    QTest::newRow("double slash") << int(Package::System) << "//" << "/";
    QTest::newRow("slash dot slash") << int(Package::System) << "/./" << "/";
    QTest::newRow("user climbing out") << int(Package::User) << "../../.." << "/Users/tester/";
    QTest::newRow("legacy climbing") << int(Package::Legacy) << "Library/../" << "/";
}

void ReceiptStoreTest::installLocation()
{
    QFETCH(int, location);
    QFETCH(QString, prefix);
    QFETCH(QString, expected);
    Package item = receipt("com.example.where", Package::Location(location));
    item.prefix = prefix;
    item.paths = {PathItem::file("file", 10)};
    item.paths.first().onDisk = !prefix.contains(".."); // the generator writes no climbing path
    QList<PackageRecord> records = writeAndRead({item});
    QCOMPARE(records.size(), 1);
    const platform::LogicalPath folder = PackageHelperNative::installLocationForPackage(records.first());
    QCOMPARE(folder.toFolderString(), expected);
    QVERIFY(!records.first().isDamaged());
    QCOMPARE(PackageHelperNative::getFilesForPackage(records.first(), folder), QStringList{expected + "file"});
}

void ReceiptStoreTest::filesFollowTheBillWithTheirPrefix()
{
    Package item = receipt("com.example.files");
    item.prefix = "Applications";
    // Finder's custom-icon file is named "Icon\r"; the carriage return is dropped.
    item.paths = {PathItem::folder("Tool.app"), PathItem::folder("Tool.app/Contents"),
                  PathItem::file("Tool.app/Contents/Icon\r", 4), PathItem::file("Tool.app/Contents/Info.plist", 10),
                  PathItem::link("Tool.app/Current", "Contents")};
    QList<PackageRecord> records = writeAndRead({item});
    PackageRecord &record = records.first();
    const platform::LogicalPath location = PackageHelperNative::installLocationForPackage(record);
    const QStringList files = PackageHelperNative::getFilesForPackage(record, location);
    // The bill's order: a folder before its contents, names bytewise.
    QCOMPARE(files, (QStringList{"/Applications/Tool.app", "/Applications/Tool.app/Contents",
                                 "/Applications/Tool.app/Contents/Icon", "/Applications/Tool.app/Contents/Info.plist",
                                 "/Applications/Tool.app/Current"}));
}

void ReceiptStoreTest::unreadableFilesAreRefusedUnread_data()
{
    QTest::addColumn<int>("location");
    QTest::addColumn<QString>("replaced");   // which of the bad receipt's files
    QTest::addColumn<bool>("fifo");          // else a sparse file of 3 GB
    QTest::addColumn<bool>("damaged");       // kept and marked damaged, else left out
    QTest::newRow("receipt is a fifo") << int(Package::User) << "plist" << true << false;
    QTest::newRow("receipt of 3 GB") << int(Package::User) << "plist" << false << false;
    QTest::newRow("bill is a fifo") << int(Package::User) << "bom" << true << true;
    QTest::newRow("bill of 3 GB") << int(Package::System) << "bom" << false << true;
    QTest::newRow("legacy Info.plist is a fifo") << int(Package::Legacy) << "info" << true << false;
}

// A fifo would block the scan for ever and a huge file exhaust its memory;
// both are refused before a byte is read, and the scan goes on.
void ReceiptStoreTest::unreadableFilesAreRefusedUnread()
{
    QFETCH(int, location);
    QFETCH(QString, replaced);
    QFETCH(bool, fifo);
    QFETCH(bool, damaged);
    const Package bad = receipt("com.example.bad", Package::Location(location));
    writeAndRead({receipt("com.example.good"), bad});
    const QString target = replaced == "plist" ? m_volume->builder.receiptPath(bad)
                           : replaced == "bom" ? m_volume->builder.billPath(bad)
                                               : m_volume->builder.bundlePath(bad) + "/Contents/Info.plist";
    const QString physical = m_volume->physical(target);
    QVERIFY(QFile::remove(physical));
    if (fifo) {
        QCOMPARE(::mkfifo(QFile::encodeName(physical).constData(), 0644), 0);
    } else {
        QFile huge(physical);
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(3) << 30));
    }
    const QList<PackageRecord> records = PackageHelperNative::getPackages();
    QVERIFY(findRecord(records, "com.example.good"));
    const PackageRecord *kept = findRecord(records, bad.identifier);
    QCOMPARE(kept != nullptr, damaged);
    if (kept) {
        PackageRecord record = *kept;
        QVERIFY(PackageHelperNative::getFilesForPackage(record, platform::Volume::current()->top()).isEmpty());
        QVERIFY(record.isDamaged());
    }
}

void ReceiptStoreTest::badReceipts_data()
{
    QTest::addColumn<int>("receiptDamage");
    QTest::addColumn<int>("billDamage");
    QTest::addColumn<bool>("kept");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<int>("files");
    QTest::addColumn<QString>("logged");

    QTest::newRow("receipt not a property list")
        << int(Damage::Unopenable) << int(Damage::None) << false << false << 0
        << "Error: damaged receipt installed /private/var/db/receipts/com.example.bad.plist";
    QTest::newRow("receipt is an array")
        << int(Damage::Corrupt) << int(Damage::None) << false << false << 0
        << "Error: receipt with array installed /private/var/db/receipts/com.example.bad.plist";
    QTest::newRow("receipt without its bill")
        << int(Damage::None) << int(Damage::Missing) << false << false << 0
        << "Error: receipt plist without accompanying BOM installed, please remove manually: "
           "/private/var/db/receipts/com.example.bad.plist";
    QTest::newRow("bill that cannot be opened")
        << int(Damage::None) << int(Damage::Unopenable) << true << true << 0
        << "Failed to get PKBOM for the damaged package, which should be removed: ";
    QTest::newRow("bill damaged inside")
        << int(Damage::None) << int(Damage::Corrupt) << true << false << 0
        << "Exception getting PKBOM for the damaged package, which should be removed: ";
}

void ReceiptStoreTest::badReceipts()
{
    QFETCH(int, receiptDamage);
    QFETCH(int, billDamage);
    QFETCH(bool, kept);
    QFETCH(bool, damaged);
    QFETCH(int, files);
    QFETCH(QString, logged);

    Package bad = receipt("com.example.bad");
    bad.receiptDamage = Damage(receiptDamage);
    bad.billDamage = Damage(billDamage);
    QList<PackageRecord> records = writeAndRead({receipt("com.example.good"), bad});
    QCOMPARE(records.size(), kept ? 2 : 1);
    QVERIFY(findRecord(records, "com.example.good"));
    if (kept) {
        // Within one folder the order is the file system's own.
        PackageRecord &record = records[records.first().packageIdentifier() == "com.example.bad" ? 0 : 1];
        const platform::LogicalPath location = PackageHelperNative::installLocationForPackage(record);
        QCOMPARE(PackageHelperNative::getFilesForPackage(record, location).size(), files);
        QCOMPARE(record.isDamaged(), damaged);
        QCOMPARE(record.contains(PackageKey::IsDamaged), damaged);
    }
    QVERIFY2(wasLogged(kestrum::LogError, logged), qPrintable(loggedMessages(kestrum::LogError).join('\n')));
    if (receiptDamage == int(Damage::Corrupt)) {
        // The malformed receipt is also reported to the user.
        QVERIFY(wasLogged(kestrum::LogError, "alert_feedback Dorvane encountered a malformed package receipt. "
                                             "\nfile: /private/var/db/receipts/com.example.bad.plist\n\ncontent: "));
    }
}

void ReceiptStoreTest::legacyBundles_data()
{
    QTest::addColumn<bool>("withoutIdentifier");
    QTest::addColumn<bool>("withoutName");
    QTest::addColumn<QString>("billPath");
    QTest::addColumn<QString>("expectedIdentifier");
    QTest::newRow("identifier") << false << false << "Contents/Archive.bom" << "com.example.old";
    QTest::newRow("name only") << true << false << "Contents/Archive.bom" << "com.example.old";
    QTest::newRow("neither: the bundle's name") << true << true << "Contents/Archive.bom" << "old.pkg";
    QTest::newRow("one other bill") << false << false << "Contents/Resources/Old.bom" << "com.example.old";
}

void ReceiptStoreTest::legacyBundles()
{
    QFETCH(bool, withoutIdentifier);
    QFETCH(bool, withoutName);
    QFETCH(QString, billPath);
    QFETCH(QString, expectedIdentifier);
    Package item = receipt("com.example.old", Package::Legacy);
    item.legacyWithoutIdentifier = withoutIdentifier;
    item.legacyWithoutName = withoutName;
    item.legacyBillPath = billPath;
    item.version = "2.5";
    const QList<PackageRecord> records = writeAndRead({item});
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().packageIdentifier(), expectedIdentifier);
    QCOMPARE(records.first().bomPath(), "/Library/Receipts/old.pkg/" + billPath);
    QCOMPARE(records.first().packageVersion(), QStringLiteral("2.5"));
}

void ReceiptStoreTest::bsdBundleWithoutInfoIsSilent()
{
    m_volume->makeFolder("/Library/Receipts/BSD.pkg/Contents");
    m_volume->makeFolder("/Library/Receipts/Other.pkg/Contents");
    // A second bill makes a bundle incomplete when Archive.bom is missing.
    Package twoBills = receipt("com.example.two", Package::Legacy);
    twoBills.legacyBillPath = "Contents/Resources/A.bom";
    QList<PackageRecord> records = writeAndRead({twoBills});
    QCOMPARE(records.size(), 1);
    QFile::copy(m_volume->physical("/Library/Receipts/two.pkg/Contents/Resources/A.bom"),
                m_volume->physical("/Library/Receipts/two.pkg/Contents/Resources/B.bom"));

    QVERIFY(PackageHelperNative::getPackages().isEmpty());
    QVERIFY(wasLogged(kestrum::LogError,
                      "Error: damaged receipt installed, please remove manually: /Library/Receipts/Other.pkg"));
    QVERIFY(wasLogged(kestrum::LogError,
                      "Error: incomplete receipt installed, please remove manually: /Library/Receipts/two.pkg"));
    for (const QString &message : loggedMessages(kestrum::LogError))
        QVERIFY2(!message.contains("BSD.pkg"), qPrintable(message));
}

void ReceiptStoreTest::unopenableReceiptStillListsFiles()
{
    QList<PackageRecord> records = writeAndRead({receipt("com.example.gone")});
    PackageRecord &record = records.first();
    // The receipt goes bad after the scan read it; the bill still reads.
    QFile plist(m_volume->physical(record.plistPath()));
    QVERIFY(plist.open(QIODevice::WriteOnly | QIODevice::Truncate));
    plist.write("not a property list");
    plist.close();
    QVERIFY(PackageHelperNative::installLocationForPackage(record).isRoot());
    QVERIFY(record.isDamaged());
    QVERIFY(wasLogged(kestrum::LogError,
                      "Error: failed to get PKReceipt for the damaged package, which should be removed: "));
    QCOMPARE(PackageHelperNative::getFilesForPackage(record, platform::Volume::current()->top()).size(), 3);
}

void ReceiptStoreTest::realSampleInfoPlistAsLegacyBundle()
{
    // The sample is a real legacy package's Info.plist with its Archive.bom.
    const QString bundle = "/Library/Receipts/InstallerPluginsTestPackage.pkg/Contents";
    QVERIFY(m_volume->makeFolder(bundle));
    QVERIFY(QFile::copy(DORVANE_SAMPLES_DIR "/pyobjc-InstallerPluginsTestPackage-Info.plist",
                        m_volume->physical(bundle + "/Info.plist")));
    QVERIFY(QFile::copy(DORVANE_SAMPLES_DIR "/pyobjc-InstallerPluginsTestPackage-Archive.bom",
                        m_volume->physical(bundle + "/Archive.bom")));
    QList<PackageRecord> records = PackageHelperNative::getPackages();
    QCOMPARE(records.size(), 1);
    const QVariantMap info =
        platform::PropertyList::readFile(DORVANE_SAMPLES_DIR "/pyobjc-InstallerPluginsTestPackage-Info.plist").toMap();
    QCOMPARE(records.first().packageIdentifier(), info.value("CFBundleIdentifier").toString());
    const QString location = PackageHelperNative::installLocationForPackage(records.first()).toFolderString();
    QCOMPARE(location, info.value("IFPkgFlagDefaultLocation").toString().endsWith('/')
                           ? info.value("IFPkgFlagDefaultLocation").toString()
                           : info.value("IFPkgFlagDefaultLocation").toString() + '/');
    const QStringList files = PackageHelperNative::getFilesForPackage(records.first(), platform::volumePath(location).value());
    QVERIFY(!files.isEmpty());
    for (const QString &file : files)
        QVERIFY2(file.startsWith(location) && !file.contains("/./"), qPrintable(file));
}

QTEST_GUILESS_MAIN(ReceiptStoreTest)
#include "tst_receiptstore.moc"
