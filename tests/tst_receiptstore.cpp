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

namespace {

Package receipt(const QString &identifier, Package::Location location = Package::System)
{
    Package item;
    item.identifier = identifier;
    item.location = location;
    item.paths = {PathItem::folder("Library"), PathItem::folder("Library/" + identifier),
                  PathItem::file("Library/" + identifier + "/data", 100)};
    return item;
}

// A receipt or bill damaged by the generator, or replaced afterwards by a
// fifo or a sparse file of 3 GB, beside a good one: whether its record is
// kept, and marked damaged, and the error logged.
struct BadReceipt
{
    Package::Location location;
    Damage receipt, bill;
    QString replaced;   // "plist", "bom" or "info" (a legacy bundle's Info.plist)
    bool fifo, kept, damaged;
    QString logged = {};
};

// A legacy bundle's Info.plist without some keys, or its one bill elsewhere.
struct LegacyBundle
{
    bool withoutIdentifier, withoutName;
    QString billPath, identifier;
};

} // namespace

class ReceiptStoreTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<BuiltVolume> m_volume;

    QList<PackageRecord> writeAndRead(const QList<Package> &described)
    {
        writeReceipts(m_volume->builder, described);
        return PackageHelperNative::getPackages();
    }

private Q_SLOTS:
    void init() { m_volume = std::make_unique<BuiltVolume>(); }
    void cleanup() { m_volume.reset(); }

    void emptyVolumeGivesNothingSilently()
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
    void recordsInOrderWithTheirKeys()
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

    void installLocation_data()
    {
        QTest::addColumn<int>("location");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("expected");
        const int system = Package::System, user = Package::User, legacy = Package::Legacy;
        QTest::newRow("system relative") << system << "Applications" << "/Applications/";
        QTest::newRow("system root") << system << "/" << "/";
        QTest::newRow("system absolute, no slash") << system << "/opt/tool" << "/opt/tool/";
        QTest::newRow("user relative") << user << "Applications" << "/Users/tester/Applications/";
        QTest::newRow("user root") << user << "/" << "/Users/tester/";
        QTest::newRow("legacy") << legacy << "/Library/Fonts" << "/Library/Fonts/";
        // Odd spellings name the place they lead to; a user package's prefix
        // never leaves the home folder.
        QTest::newRow("climbing") << system << "Applications/.." << "/";
        QTest::newRow("dot slash") << system << "./" << "/";
        QTest::newRow("dot") << system << "." << "/";
        QTest::newRow("double slash") << system << "//" << "/";
        QTest::newRow("slash dot slash") << system << "/./" << "/";
        QTest::newRow("user climbing out") << user << "../../.." << "/Users/tester/";
        QTest::newRow("legacy climbing") << legacy << "Library/../" << "/";
    }

    void installLocation()
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
        QCOMPARE(byteListing(records.first(), folder), QStringList{expected + "file"});
    }

    // The scan's listing, in bytes with no string per path, says what files() says.
    static QStringList byteListing(PackageRecord &record, const platform::LogicalPath &prefix)
    {
        QStringList out;
        PackageHelperNative::reader().forEachFile(record, prefix,
                                                  [&](QByteArrayView path) { out.append(QString::fromUtf8(path)); });
        return out;
    }

    void filesFollowTheBillWithTheirPrefix()
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
        QCOMPARE(byteListing(record, location), files);
        // The bill's order: a folder before its contents, names bytewise.
        QCOMPARE(files, (QStringList{"/Applications/Tool.app", "/Applications/Tool.app/Contents",
                                     "/Applications/Tool.app/Contents/Icon",
                                     "/Applications/Tool.app/Contents/Info.plist", "/Applications/Tool.app/Current"}));
    }

    // A fifo would block the scan for ever and a huge file exhaust its memory;
    // both are refused before a byte is read, and the scan goes on.
    void badReceipts_data()
    {
        QTest::addColumn<BadReceipt>("bad");
        const QString plist = "/private/var/db/receipts/com.example.bad.plist";
        const Package::Location system = Package::System, user = Package::User;
        QTest::newRow("receipt not a property list")
            << BadReceipt{system, Damage::Unopenable, Damage::None, {}, false, false, false,
                          "Error: damaged receipt installed " + plist};
        QTest::newRow("receipt is an array")
            << BadReceipt{system, Damage::Corrupt, Damage::None, {}, false, false, false,
                          "Error: receipt with array installed " + plist};
        QTest::newRow("receipt without its bill")
            << BadReceipt{system, Damage::None, Damage::Missing, {}, false, false, false,
                          "Error: receipt plist without accompanying BOM installed, please remove manually: " + plist};
        QTest::newRow("bill that cannot be opened")
            << BadReceipt{system, Damage::None, Damage::Unopenable, {}, false, true, true,
                          "Failed to get PKBOM for the damaged package, which should be removed: "};
        QTest::newRow("bill damaged inside")
            << BadReceipt{system, Damage::None, Damage::Corrupt, {}, false, true, false,
                          "Exception getting PKBOM for the damaged package, which should be removed: "};
        QTest::newRow("receipt is a fifo") << BadReceipt{user, Damage::None, Damage::None, "plist", true, false, false};
        QTest::newRow("receipt of 3 GB") << BadReceipt{user, Damage::None, Damage::None, "plist", false, false, false};
        QTest::newRow("bill is a fifo") << BadReceipt{user, Damage::None, Damage::None, "bom", true, true, true};
        QTest::newRow("bill of 3 GB") << BadReceipt{system, Damage::None, Damage::None, "bom", false, true, true};
        QTest::newRow("legacy Info.plist is a fifo")
            << BadReceipt{Package::Legacy, Damage::None, Damage::None, "info", true, false, false};
    }

    void badReceipts()
    {
        QFETCH(BadReceipt, bad);
        Package item = receipt("com.example.bad", bad.location);
        item.receiptDamage = bad.receipt;
        item.billDamage = bad.bill;
        writeReceipts(m_volume->builder, {receipt("com.example.good"), item});
        if (!bad.replaced.isEmpty()) {
            const QString target = bad.replaced == "plist" ? m_volume->builder.receiptPath(item)
                                   : bad.replaced == "bom" ? m_volume->builder.billPath(item)
                                                           : m_volume->builder.bundlePath(item) + "/Contents/Info.plist";
            const QString physical = m_volume->physical(target);
            QVERIFY(QFile::remove(physical));
            if (bad.fifo)
                QCOMPARE(::mkfifo(QFile::encodeName(physical).constData(), 0644), 0);
            else
                QVERIFY(QFile(physical).open(QIODevice::WriteOnly) && QFile::resize(physical, qint64(3) << 30));
        }
        const QList<PackageRecord> records = PackageHelperNative::getPackages();
        QCOMPARE(records.size(), bad.kept ? 2 : 1);
        QVERIFY(findRecord(records, "com.example.good"));
        if (const PackageRecord *kept = findRecord(records, item.identifier)) {
            PackageRecord record = *kept;
            const platform::LogicalPath location = PackageHelperNative::installLocationForPackage(record);
            QVERIFY(PackageHelperNative::getFilesForPackage(record, location).isEmpty());
            QCOMPARE(record.isDamaged(), bad.damaged);
            QCOMPARE(record.contains(PackageKey::IsDamaged), bad.damaged);
        }
        const QString errors = loggedMessages(kestrum::LogError).join('\n');
        QVERIFY2(bad.logged.isEmpty() || wasLogged(kestrum::LogError, bad.logged), qPrintable(errors));
        // The malformed receipt is also reported to the user.
        QCOMPARE(wasLogged(kestrum::LogError, "alert_feedback Dorvane encountered a malformed package receipt. \nfile: "
                                              "/private/var/db/receipts/com.example.bad.plist\n\ncontent: "),
                 bad.receipt == Damage::Corrupt);
    }

    void legacyBundles_data()
    {
        QTest::addColumn<LegacyBundle>("bundle");
        const QString archive = "Contents/Archive.bom", identifier = "com.example.old";
        QTest::newRow("identifier") << LegacyBundle{false, false, archive, identifier};
        QTest::newRow("name only") << LegacyBundle{true, false, archive, identifier};
        QTest::newRow("neither: the bundle's name") << LegacyBundle{true, true, archive, "old.pkg"};
        QTest::newRow("one other bill") << LegacyBundle{false, false, "Contents/Resources/Old.bom", identifier};
    }

    void legacyBundles()
    {
        QFETCH(LegacyBundle, bundle);
        Package item = receipt("com.example.old", Package::Legacy);
        item.legacyWithoutIdentifier = bundle.withoutIdentifier;
        item.legacyWithoutName = bundle.withoutName;
        item.legacyBillPath = bundle.billPath;
        item.version = "2.5";
        const QList<PackageRecord> records = writeAndRead({item});
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().packageIdentifier(), bundle.identifier);
        QCOMPARE(records.first().bomPath(), "/Library/Receipts/old.pkg/" + bundle.billPath);
        QCOMPARE(records.first().packageVersion(), QStringLiteral("2.5"));
    }

    void bsdBundleWithoutInfoIsSilent()
    {
        m_volume->makeFolder("/Library/Receipts/BSD.pkg/Contents");
        m_volume->makeFolder("/Library/Receipts/Other.pkg/Contents");
        // A second bill makes a bundle incomplete when Archive.bom is missing.
        Package twoBills = receipt("com.example.two", Package::Legacy);
        twoBills.legacyBillPath = "Contents/Resources/A.bom";
        QCOMPARE(writeAndRead({twoBills}).size(), 1);
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

    void unopenableReceiptStillListsFiles()
    {
        QList<PackageRecord> records = writeAndRead({receipt("com.example.gone")});
        PackageRecord &record = records.first();
        // The receipt goes bad after the scan read it; the bill still reads.
        QVERIFY(m_volume->writeFile(record.plistPath(), "not a property list"));
        QVERIFY(PackageHelperNative::installLocationForPackage(record).isRoot());
        QVERIFY(record.isDamaged());
        QVERIFY(wasLogged(kestrum::LogError,
                          "Error: failed to get PKReceipt for the damaged package, which should be removed: "));
        QCOMPARE(PackageHelperNative::getFilesForPackage(record, platform::Volume::current()->top()).size(), 3);
    }

    void realSampleInfoPlistAsLegacyBundle()
    {
        // The sample is a real legacy package's Info.plist with its Archive.bom.
        const QString bundle = "/Library/Receipts/InstallerPluginsTestPackage.pkg/Contents";
        const QString sample = DORVANE_SAMPLES_DIR "/pyobjc-InstallerPluginsTestPackage-";
        QVERIFY(m_volume->makeFolder(bundle));
        QVERIFY(QFile::copy(sample + "Info.plist", m_volume->physical(bundle + "/Info.plist")));
        QVERIFY(QFile::copy(sample + "Archive.bom", m_volume->physical(bundle + "/Archive.bom")));
        QList<PackageRecord> records = PackageHelperNative::getPackages();
        QCOMPARE(records.size(), 1);
        const QVariantMap info = platform::PropertyList::readFile(sample + "Info.plist").toMap();
        QCOMPARE(records.first().packageIdentifier(), info.value("CFBundleIdentifier").toString());
        const QString location = PackageHelperNative::installLocationForPackage(records.first()).toFolderString();
        const QString defaultLocation = info.value("IFPkgFlagDefaultLocation").toString();
        QCOMPARE(location, defaultLocation.endsWith('/') ? defaultLocation : defaultLocation + '/');
        const QStringList files =
            PackageHelperNative::getFilesForPackage(records.first(), platform::volumePath(location).value());
        QVERIFY(!files.isEmpty());
        for (const QString &file : files)
            QVERIFY2(file.startsWith(location) && !file.contains("/./"), qPrintable(file));
    }
};

QTEST_GUILESS_MAIN(ReceiptStoreTest)
#include "tst_receiptstore.moc"
