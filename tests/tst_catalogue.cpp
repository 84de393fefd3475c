#include "dorvane/Settings.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/catalogue/PackageFilter.h"
#include "dorvane/catalogue/PackageSize.h"
#include "dorvane/catalogue/SizePass.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/FileSystem.h"
#include "support/BuiltVolume.h"

#include <QFile>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>

using namespace dorvane;
using volumegen::AppBundle;
using volumegen::Damage;
using volumegen::PathItem;
using volumegen::Package;

namespace {

const QString kMinus = QStringLiteral("/bundle/Contents/Resources/minus.png");

// One application in a package: where the bill has it and where it lies, and
// what the record shows of it (no name or path when it is not listed).
struct ApplicationCase
{
    QString identifier, appPath, plistName;
    bool isApplicationPackage;
    QString name, path, prefix = "/", movedTo = {};
};

// A bill header in the file's big-endian layout: magic, version, block
// count, block table and variables (offset and length each).
QByteArray billHeader(quint32 tableOffset, quint32 tableLength, quint32 varsOffset, quint32 varsLength)
{
    QByteArray header("BOMStore");
    for (const quint32 value : {1u, 0u, tableOffset, tableLength, varsOffset, varsLength}) {
        const quint32 be = qToBigEndian(value);
        header.append(reinterpret_cast<const char *>(&be), 4);
    }
    header.resize(512, '\0');
    return header;
}

PackageRecord record(const QString &identifier, const QString &fileName, const QString &version = "1.0")
{
    PackageRecord r({{PackageKey::PackageIdentifier, identifier}, {PackageKey::PackageVersion, version},
                     {PackageKey::InstallProcessName, QStringLiteral("PkgBuilder")}});
    if (!fileName.isEmpty())
        r.setValue(PackageKey::PackageFileName, fileName);
    r.startInstallSize();
    return r;
}

} // namespace

class CatalogueTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<BuiltVolume> m_volume;

private Q_SLOTS:
    void initTestCase() { Settings::registerDefaults(); }
    void init() { m_volume = std::make_unique<BuiltVolume>(); }
    void cleanup() { m_volume.reset(); }

    void emptyVolumeHasNoCatalogue() { QVERIFY(!CatalogueScanner::scan(kMinus).has_value()); }

    void applicationRule_data()
    {
        QTest::addColumn<ApplicationCase>("c");
        const QString id = "com.example.app", foo = "/Applications/Foo.app";
        QTest::newRow("top level") << ApplicationCase{id, foo, "Foo Pro", true, "Foo Pro", foo + "/"};
        QTest::newRow("name from the path") << ApplicationCase{id, foo, "", true, "Foo", foo + "/"};
        QTest::newRow("one folder down") << ApplicationCase{id, "/Applications/Utilities/Foo.app", "", true, "Foo",
                                                            "/Applications/Utilities/Foo.app/"};
        QTest::newRow("two folders down") << ApplicationCase{id, "/Applications/A/B/Foo.app", "", false, "", ""};
        QTest::newRow("outside /Applications") << ApplicationCase{id, "/Library/Foo.app", "", false, "", ""};
        // Apple's own packages list their applications, but are no application packages.
        QTest::newRow("Apple's package") << ApplicationCase{"com.apple.pkg.Tool", foo, "Foo", false, "Foo", foo + "/"};
        // Moved after the install: listed where it lies.
        QTest::newRow("moved from a temporary folder")
            << ApplicationCase{id, "/tmp/com.example.X1/Applications/Foo.app", "Foo", true, "Foo", foo + "/",
                               "/tmp/com.example.X1/", foo};
        QTest::newRow("moved from a hidden name")
            << ApplicationCase{id, "/Applications/.Foo.app", "Foo", true, "Foo", foo + "/", "/", foo};
    }

    void applicationRule()
    {
        QFETCH(ApplicationCase, c);
        Package item = package(c.identifier, {});
        item.prefix = c.prefix;
        AppBundle bundle = app(c.appPath, c.plistName, "com.example.foo");
        bundle.movedTo = c.movedTo;
        item.applications = {bundle};
        const Catalogue catalogue = m_volume->scan({item});
        QCOMPARE(catalogue.applicationPackageIdentifiers.contains(c.identifier), c.isApplicationPackage);
        QVERIFY(catalogue.defunctappPackageIdentifiers.isEmpty());
        const PackageRecord record = catalogue.installerPackages.first();
        QCOMPARE(record.appNames(), c.name.isEmpty() ? QStringList() : QStringList{c.name});
        QCOMPARE(record.appPaths(), c.path.isEmpty() ? QStringList() : QStringList{c.path});
        // Every application lends its bundle identifier.
        QCOMPARE(record.appBuIDs(), QStringList{"com.example.foo"});
        QCOMPARE(record.iconPath(),
                 c.isApplicationPackage ? CatalogueScanner::kApplicationIcon : CatalogueScanner::kPackageIcon);
        // Its files are listed where it lies, and only there.
        const QString lies = (c.movedTo.isEmpty() ? c.appPath : c.movedTo) + "/Contents/MacOS";
        QCOMPARE(catalogue.packagesForFile(lies), QStringList{c.identifier});
        const QString listed = c.appPath + "/Contents/MacOS";
        QVERIFY(c.movedTo.isEmpty() || !catalogue.filesForPackage(c.identifier).contains(listed));
    }

    void presentAndMissingApplication()
    {
        Package item = package("com.example.two", {});
        AppBundle gone = app("/Applications/Gone.app", "Gone", "com.example.gone");
        gone.onDisk = false;
        AppBundle here = app("/Applications/Here.app", "Here", "com.example.here");
        here.nested = {app("/Applications/Here.app/Contents/Library/LoginItems/Helper.app", "Helper",
                           "com.example.here.helper")};
        item.applications = {gone, here};
        const Catalogue catalogue = m_volume->scan({item});
        QCOMPARE(catalogue.applicationPackageIdentifiers, (QStringList{"com.example.two", "com.example.two"}));
        QCOMPARE(catalogue.defunctappPackageIdentifiers, QStringList{"com.example.two"});
        const PackageRecord record = catalogue.installerPackages.first();
        QCOMPARE(record.appNames(), (QStringList{"Gone", "Here"}));
        // The nested helper only lends its identifier (its folder comes first in
        // the bill: "Library" sorts before "MacOS"); the missing application's
        // Info.plist cannot be read, so it lends none.
        QCOMPARE(record.appBuIDs(), (QStringList{"com.example.here.helper", "com.example.here"}));
        // The icon is the last application's.
        QCOMPARE(record.iconPath(), CatalogueScanner::kApplicationIcon);
    }

    void ignoredInstallersAreKeptOut()
    {
        const QList<PathItem> shared{PathItem::folder("Library"), PathItem::file("Library/shared.dat", 10)};
        Package update = package("com.example.update", shared);
        update.installProcessName = "Software Update";
        Package legacy = package("com.example.legacy", {PathItem::file("legacy.dat", 1)});
        legacy.location = Package::Legacy;
        const Catalogue catalogue = m_volume->scan({update, package("com.example.normal", shared), legacy});
        QCOMPARE(catalogue.allPackages.size(), 1);
        QCOMPARE(catalogue.allPackages.first().packageIdentifier(), QStringLiteral("com.example.update"));
        QCOMPARE(catalogue.installerPackages.size(), 2);
        QVERIFY(!catalogue.hasFilesFor("com.example.update"));
        QStringList sharers = catalogue.packagesForFile("/Library/shared.dat");
        sharers.sort();
        QCOMPARE(sharers, (QStringList{"com.example.normal", "com.example.update"}));

        // With every installer ignored, nothing is listed and nothing complains.
        kestrum::DefaultsKey(Settings::kIgnoredInstallers).setDefaultArray(QStringList{"Installer", "Software Update"});
        const Catalogue hidden = CatalogueScanner::scan(kMinus).value();
        QCOMPARE(hidden.installerPackages.size(), 1); // the legacy record names no installer
        QCOMPARE(hidden.allPackages.size(), 2);
    }

    void damagedRecordGetsTheMinusIcon_data()
    {
        QTest::addColumn<QByteArray>("bill");   // empty: the generator's own unopenable bill
        QTest::addColumn<bool>("fifo");
        QTest::newRow("not a bill") << QByteArray() << false;
        QTest::newRow("the magic alone") << QByteArray("BOMStore") << false;
        QTest::newRow("block table outside the file") << billHeader(0xFFFFFF00, 64, 32, 16) << false;
        QTest::newRow("variables outside the file") << billHeader(32, 16, 0x7FFFFFF0, 64) << false;
        QTest::newRow("a fifo in its place") << QByteArray() << true;
    }

    void damagedRecordGetsTheMinusIcon()
    {
        QFETCH(QByteArray, bill);
        QFETCH(bool, fifo);
        Package item = package("com.example.broken", {});
        item.applications = {app("/Applications/Broken.app", "Broken", "com.example.broken.app")};
        item.billDamage = bill.isEmpty() && !fifo ? Damage::Unopenable : Damage::None;
        m_volume->builder.addReceipt(item);
        QVERIFY(m_volume->builder.write());
        const QString physical = m_volume->physical(m_volume->builder.billPath(item));
        if (fifo) {
            QVERIFY(QFile::remove(physical));
            QCOMPARE(::mkfifo(QFile::encodeName(physical).constData(), 0644), 0);
        } else if (!bill.isEmpty()) {
            QFile file(physical);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bill) == bill.size());
        }
        const Catalogue catalogue = CatalogueScanner::scan(kMinus).value_or(Catalogue());
        QCOMPARE(catalogue.installerPackages.size(), 1);
        const PackageRecord record = catalogue.installerPackages.first();
        QVERIFY(record.isDamaged());
        QCOMPARE(record.iconPath(), kMinus);
        QVERIFY(catalogue.filesForPackage("com.example.broken").isEmpty());
    }

    // The bills are read in batches; none is lost or listed twice at their seams,
    // and the progress names each package as it is put in.
    void everyBatchOfBillsIsListed()
    {
        QList<Package> packages;
        QStringList identifiers;
        for (int i = 0; i < 70; ++i) {
            const QString identifier = QStringLiteral("com.example.p%1").arg(i, 2, 10, QLatin1Char('0'));
            identifiers << identifier;
            packages << package(identifier, {PathItem::file(identifier, 1), PathItem::file("shared", 1)});
        }
        QStringList details;
        const Catalogue catalogue = m_volume->scan(packages, kMinus, [&](const QString &detail) { details << detail; });
        QStringList listed;
        for (const PackageRecord &record : catalogue.installerPackages) {
            listed << record.packageIdentifier();
            QCOMPARE(catalogue.filesForPackage(listed.last()), (QStringList{"/" + listed.last(), "/shared"}));
        }
        QCOMPARE(details, listed);
        listed.sort();
        QCOMPARE(listed, identifiers);
        QCOMPARE(catalogue.packagesForFile("/shared").size(), 70);
    }

    void filterModesAndSearch_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("shown");
        const int all = int(PackageFilter::Mode::All), apps = int(PackageFilter::Mode::Applications);
        QTest::newRow("all") << all << "" << QStringList{"com.a.app", "com.b.tool", "com.c.gone"};
        QTest::newRow("applications") << apps << "" << QStringList{"com.a.app", "com.c.gone"};
        QTest::newRow("defunct") << int(PackageFilter::Mode::Defunct) << "" << QStringList{"com.c.gone"};
        QTest::newRow("none chosen") << int(PackageFilter::Mode::None) << "" << QStringList{};
        QTest::newRow("capitals match the file name") << all << "TOOLKIT" << QStringList{"com.b.tool"};
        QTest::newRow("identifier when no file name") << all << "C.GO" << QStringList{"com.c.gone"};
        QTest::newRow("version is not searched") << all << "9.9" << QStringList{};
        QTest::newRow("installer is not searched") << all << "PkgBuilder" << QStringList{};
        QTest::newRow("mode and text both") << apps << "tool" << QStringList{};
        QTest::newRow("text is not trimmed") << all << " app" << QStringList{};
    }

    void filterModesAndSearch()
    {
        QFETCH(int, mode);
        QFETCH(QString, search);
        QFETCH(QStringList, shown);
        Catalogue catalogue;
        catalogue.installerPackages = {record("com.a.app", "AppInstaller.pkg"),
                                       record("com.b.tool", "ToolKit.pkg", "9.9"), record("com.c.gone", "")};
        // An identifier twice in the list is still shown once.
        catalogue.applicationPackageIdentifiers = {"com.a.app", "com.c.gone", "com.c.gone"};
        catalogue.defunctappPackageIdentifiers = {"com.c.gone"};
        QStringList result;
        for (const PackageRecord &r : PackageFilter::filter(catalogue, PackageFilter::Mode(mode), search))
            result << r.packageIdentifier();
        QCOMPARE(result, shown);
    }

    void statistics()
    {
        QList<PackageRecord> shown = {record("a", ""), record("b", ""), record("c", "")};
        QCOMPARE(PackageFilter::statistics(shown), QStringLiteral("3 Packages  0.0 MB"));
        // The total adds up the shown, rounded sizes: 1.0 + 2.5, not 3.6.
        shown[0].setInstallBytes(1048576 + 50000);
        shown[1].setInstallBytes(2 * 1048576 + 524288 + 50000);
        QCOMPARE(shown[0].installSize(), QStringLiteral("1.0 MB"));
        QCOMPARE(PackageFilter::statistics(shown), QStringLiteral("3 Packages  3.5 MB"));
        QCOMPARE(PackageFilter::statistics({}), QStringLiteral("0 Packages  0.0 MB"));
        // Copies share the size with the record they came from.
        const PackageRecord copy = shown[2];
        shown[2].setInstallBytes(419430);
        QCOMPARE(copy.installSize(), QStringLiteral("0.4 MB"));
    }

    void sizeCountsOwnItemsWithoutFollowingLinks()
    {
        // Folders alternate, and one name is not ASCII, so the probe reopens
        // folders and asks by the file system's own bytes.
        Package item = package("com.example.sized",
                               {PathItem::folder("Library"), PathItem::file("Library/big", 3 * 1048576),
                                PathItem::link("Library/link", "big"), PathItem::file("top", 7),
                                PathItem::folder("Library/Caf\u00e9"), PathItem::file("Library/Caf\u00e9/n\u00e9", 11),
                                PathItem::file("Library/again", 13), PathItem::file("Library/gone", 5000),
                                PathItem::file("Gone/inside", 17)});
        item.paths[7].onDisk = false;
        item.paths[8].onDisk = false;
        const Catalogue catalogue = m_volume->scan({item});
        const PackageRecord record = catalogue.installerPackages.first();
        const quint64 receipt = kestrum::fileSize(record.bomPath()) + kestrum::fileSize(record.plistPath());
        QVERIFY(receipt > 0);
        // Folders count nothing, the link its own three bytes, missing files nothing.
        QCOMPARE(PackageSize::bytes(record, catalogue), receipt + 3 * 1048576 + 3 + 7 + 11 + 13);
    }

    void sizesWhileScanningReachEveryBatch()
    {
        // More packages than a batch of the scan, each with files of its own
        // sizes and one file that every package lists.
        QList<Package> packages;
        QHash<QString, quint64> listed;
        for (int p = 0; p < 70; ++p) {
            const QString identifier = QStringLiteral("com.example.batch%1").arg(p);
            Package item = package(identifier, {PathItem::folder("Library"), PathItem::file("Library/shared", 5)});
            quint64 bytes = 5;
            for (int f = 0; f <= p % 4; ++f) {
                item.paths << PathItem::file(QStringLiteral("Library/%1-%2").arg(p).arg(f), quint64(100 * p + f));
                bytes += quint64(100 * p + f);
            }
            listed.insert(identifier, bytes);
            packages << item;
        }
        SizesWhileScanning sizes;
        const Catalogue catalogue = m_volume->scan(packages, QStringLiteral("minus.png"), {}, sizes.observer());
        sizes.finish();
        QCOMPARE(catalogue.installerPackages.size(), 70);
        for (const PackageRecord &record : catalogue.installerPackages) {
            const quint64 receipt = kestrum::fileSize(record.bomPath()) + kestrum::fileSize(record.plistPath());
            QCOMPARE(record.installBytes(), std::optional<quint64>(receipt + listed.value(record.packageIdentifier())));
        }
    }
};

QTEST_GUILESS_MAIN(CatalogueTest)
#include "tst_catalogue.moc"
