#include "VolumeGenerator.h"

#include "platform/FileFlags.h"
#include "platform/PackageBOM.h"
#include "platform/PackageReceipt.h"
#include "platform/PropertyList.h"
#include "platform/Volume.h"
#include "platform/bom/BomReader.h"
#include "platform/bom/PosixChecksum.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

using namespace volumegen;
using platform::BomEntry;
using platform::BomReader;

namespace {

const QString kHome = QStringLiteral("/Users/demo");

// Every item below the root: kind, size, link target, and a digest of the
// content of every file that is not a sparse run of zeros (bills, receipts,
// property lists, icons). Time stamps are the file system's own and left out.
QStringList snapshot(const QString &root)
{
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString relative = info.filePath().mid(root.size());
        if (info.isSymLink()) {
            char target[4096];
            const ssize_t n = ::readlink(QFile::encodeName(info.filePath()).constData(), target, sizeof target);
            lines << QStringLiteral("l %1 -> %2").arg(relative, QString::fromUtf8(target, n > 0 ? n : 0));
        } else if (info.isDir()) {
            lines << QStringLiteral("d %1").arg(relative);
        } else {
            QString digest;
            if (info.size() <= 4 * 1024 * 1024) {
                QFile file(info.filePath());
                if (file.open(QIODevice::ReadOnly))
                    digest = QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex());
            }
            lines << QStringLiteral("f %1 %2 %3 %4").arg(relative).arg(info.size()).arg(info.isExecutable()).arg(digest);
        }
    }
    lines.sort();
    return lines;
}

// Where the builder put an item of a receipt, if it is on disk at all.
QString diskPath(const VolumeBuilder &builder, const Package &package, const PathItem &item)
{
    return item.movedTo.isEmpty() ? builder.installFolder(package) + item.path : item.movedTo;
}

const Package *findReceipt(const VolumeBuilder &builder, const QString &identifier)
{
    for (const Package &package : builder.receipts())
        if (package.identifier == identifier)
            return &package;
    return nullptr;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QStringList pathsOf(const Package &package)
{
    QStringList paths;
    for (const PathItem &item : package.paths)
        paths << item.path;
    return paths;
}

} // namespace

// Points the platform layer at a volume for as long as it lives.
class VolumeMapping
{
public:
    VolumeMapping(const QString &root, const QString &home) { platform::Volume::configure(root, home); }
    ~VolumeMapping() { platform::Volume::configure(QString(), QString()); }
};

class VolumeGeneratorTest : public QObject
{
    Q_OBJECT

private:
    // One demo volume for the tests that only read it.
    QTemporaryDir m_demoDir;
    std::unique_ptr<VolumeBuilder> m_demo;

private Q_SLOTS:
    void initTestCase();
    void sameSeedGivesTheSameVolume_data();
    void sameSeedGivesTheSameVolume();
    void billListsExactlyTheGivenPaths();
    void demoBillsMatchTheirReceiptsAndTheDisk();
    void receiptsCarryTheInstallerKeys();
    void damagedReceiptsFailTheWayTheyShould();
    void applicationsHaveReadableBundles();
    void generatedItemsLieWhereThePlannerLooks_data();
    void generatedItemsLieWhereThePlannerLooks();
    void movedApplicationsAreWhereTheCorrectionsLook();
    void iconsAreReadable();
    void largeVolumeHasTheRequestedShape_data();
    void largeVolumeHasTheRequestedShape();
    void builderNeverWritesOutsideTheRoot();
    void protectSetsTheImmutableFlag();
    void removeVolumeRefusesForeignFolders();
};

void VolumeGeneratorTest::initTestCase()
{
    QVERIFY(m_demoDir.isValid());
    m_demo = std::make_unique<VolumeBuilder>(m_demoDir.path(), kHome);
    populateDemoVolume(*m_demo, 5);
    QString error;
    QVERIFY2(m_demo->write(&error), qPrintable(error));
}

void VolumeGeneratorTest::sameSeedGivesTheSameVolume_data()
{
    QTest::addColumn<bool>("large");
    QTest::newRow("demo") << false;
    QTest::newRow("large") << true;
}

void VolumeGeneratorTest::sameSeedGivesTheSameVolume()
{
    QFETCH(bool, large);
    auto build = [&](quint32 seed) {
        QTemporaryDir dir;
        LargeVolumeOptions options;
        options.seed = seed;
        options.packages = 16;
        options.paths = 1500;
        QString error;
        const bool ok = large ? buildLargeVolume(dir.path(), options, nullptr, &error)
                              : buildDemoVolume(dir.path(), options, nullptr, &error);
        if (!ok)
            qWarning() << error;
        return ok ? snapshot(dir.path()) : QStringList();
    };
    const QStringList first = build(42);
    QVERIFY(first.size() > 300);
    QCOMPARE(build(42), first);
    // The seed must matter, or "deterministic" would mean nothing.
    QVERIFY(build(43) != first);
}

void VolumeGeneratorTest::billListsExactlyTheGivenPaths()
{
    QTemporaryDir dir;
    VolumeBuilder builder(dir.path(), kHome);
    Package package;
    package.identifier = QStringLiteral("com.example.exact");
    package.paths << PathItem::folder(QStringLiteral("Library")) << PathItem::folder(QStringLiteral("Library/Fonts"))
               << PathItem::file(QStringLiteral("Library/Fonts/A.otf"), 70000)
               << PathItem::link(QStringLiteral("Library/Fonts/B.otf"), QStringLiteral("A.otf"))
               << PathItem::file(QStringLiteral("Library/Fonts/Icon\r"), 0)
               << PathItem::folder(QStringLiteral("usr"));
    const QStringList given = pathsOf(package);

    Package gaps;
    gaps.identifier = QStringLiteral("com.example.gaps");
    gaps.location = Package::User;
    gaps.paths << PathItem::file(QStringLiteral("/Library/Deep/Er/File.txt"), 10)
               << PathItem::file(QStringLiteral("Library/Deep/Er/File.txt"), 10);   // twice, once with a "/"
    builder.addReceipt(package);
    builder.addReceipt(gaps);
    QString error;
    QVERIFY2(builder.write(&error), qPrintable(error));

    const BomReader exact = BomReader::open(builder.physicalPath(builder.billPath(package)));
    QVERIFY2(exact.isValid(), qPrintable(exact.errorString()));
    QCOMPARE(sorted(exact.paths()), sorted(given));
    const QList<BomEntry> entries = exact.entries();
    for (const BomEntry &entry : entries) {
        if (entry.path == QLatin1String("Library/Fonts/A.otf")) {
            QCOMPARE(entry.type, BomEntry::Type::File);
            QCOMPARE(entry.size, quint64(70000));
            QCOMPARE(entry.checksum, platform::posixChecksum(QByteArray(70000, '\0')));
        } else if (entry.path == QLatin1String("Library/Fonts/B.otf")) {
            QCOMPARE(entry.type, BomEntry::Type::Link);
            QCOMPARE(entry.linkTarget, QStringLiteral("A.otf"));
        }
    }
    QCOMPARE(QFileInfo(builder.physicalPath(QStringLiteral("/Library/Fonts/A.otf"))).size(), qint64(70000));
    QCOMPARE(QFileInfo(builder.physicalPath(QStringLiteral("/Library/Fonts/B.otf"))).symLinkTarget(),
             builder.physicalPath(QStringLiteral("/Library/Fonts/A.otf")));
    QVERIFY(QFileInfo::exists(builder.physicalPath(QStringLiteral("/Library/Fonts/Icon\r"))));

    // Parents the caller left out are listed, as in every real bill; the
    // duplicate is listed once; the user's receipt installs into the home.
    const BomReader completed = BomReader::open(builder.physicalPath(builder.billPath(gaps)));
    QVERIFY(completed.isValid());
    QCOMPARE(completed.paths(), QStringList({QStringLiteral("Library"), QStringLiteral("Library/Deep"),
                                             QStringLiteral("Library/Deep/Er"), QStringLiteral("Library/Deep/Er/File.txt")}));
    QCOMPARE(builder.billPath(gaps), kHome + QStringLiteral("/Library/Receipts/com.example.gaps.bom"));
    QVERIFY(QFileInfo::exists(builder.physicalPath(kHome + QStringLiteral("/Library/Deep/Er/File.txt"))));
}

void VolumeGeneratorTest::demoBillsMatchTheirReceiptsAndTheDisk()
{
    const VolumeBuilder &builder = *m_demo;
    QVERIFY(builder.receipts().size() >= 24);

    int intact = 0;
    int filesCompared = 0;
    for (const Package &package : builder.receipts()) {
        if (package.billDamage != Damage::None)
            continue;
        ++intact;
        const BomReader bill = BomReader::open(builder.physicalPath(builder.billPath(package)));
        QVERIFY2(bill.isValid(), qPrintable(package.identifier + QLatin1String(": ") + bill.errorString()));
        QCOMPARE(sorted(bill.paths()), sorted(pathsOf(package)));

        // What the bill says of a file is what the disk holds.
        QHash<QString, const PathItem *> byPath;
        for (const PathItem &item : package.paths)
            byPath.insert(item.path, &item);
        for (const BomEntry &entry : bill.entries()) {
            const PathItem *item = byPath.value(entry.path);
            QVERIFY(item);
            if (entry.type != BomEntry::Type::File || !item->onDisk || entry.size > 8 * 1024 * 1024)
                continue;
            QFile file(builder.physicalPath(diskPath(builder, package, *item)));
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
            const QByteArray content = file.readAll();
            QCOMPARE(quint64(content.size()), entry.size);
            QCOMPARE(entry.checksum, platform::posixChecksum(content));
            ++filesCompared;
        }
    }
    QVERIFY(intact >= 20);
    QVERIFY(filesCompared >= 100);
}

void VolumeGeneratorTest::receiptsCarryTheInstallerKeys()
{
    const VolumeBuilder &builder = *m_demo;
    const VolumeMapping mapping(builder.root(), kHome);

    QSet<Package::Location> locations;
    bool sawGroups = false;
    for (const Package &package : builder.receipts()) {
        if (package.receiptDamage != Damage::None)
            continue;
        locations.insert(package.location);
        QString problem;
        const QVariant value = platform::PropertyList::readFile(builder.physicalPath(builder.receiptPath(package)), &problem);
        QVERIFY2(value.typeId() == QMetaType::QVariantMap, qPrintable(package.identifier + QLatin1String(": ") + problem));
        const QVariantMap receipt = value.toMap();
        const auto prefix = platform::PackageReceipt::openWithBOMPath(platform::LogicalPath::make(builder.billPath(package)));
        QVERIFY2(prefix && prefix->installPrefixPath(), qPrintable(package.identifier));
        if (package.location == Package::Legacy) {
            // The identifier the store derives: CFBundleIdentifier, else
            // CFBundleName, else the bundle's file name.
            const QString derived = receipt.value(QStringLiteral("CFBundleIdentifier"),
                                                  receipt.value(QStringLiteral("CFBundleName"),
                                                                builder.bundlePath(package).section(QLatin1Char('/'), -1)))
                                        .toString();
            QCOMPARE(derived, package.identifier);
            QCOMPARE(receipt.value(QStringLiteral("CFBundleShortVersionString")).toString(), package.version);
            QCOMPARE(receipt.value(QStringLiteral("IFPkgFlagDefaultLocation")).toString(), package.prefix);
            QCOMPARE(*prefix->installPrefixPath(), package.relocatedPrefix.isEmpty() ? package.prefix : package.relocatedPrefix);
            continue;
        }
        QCOMPARE(receipt.value(QStringLiteral("PackageIdentifier")).toString(), package.identifier);
        QCOMPARE(receipt.value(QStringLiteral("PackageVersion")).toString(), package.version);
        QVERIFY(receipt.value(QStringLiteral("PackageFileName")).toString().endsWith(QLatin1String(".pkg")));
        QCOMPARE(receipt.value(QStringLiteral("InstallDate")).toDateTime(), package.installDate);
        QCOMPARE(receipt.value(QStringLiteral("InstallPrefixPath")).toString(), package.prefix);
        QCOMPARE(receipt.value(QStringLiteral("InstallProcessName")).toString(), package.installProcessName);
        QCOMPARE(*prefix->installPrefixPath(), package.prefix);
        if (!package.packageGroups.isEmpty()) {
            sawGroups = true;
            QCOMPARE(receipt.value(QStringLiteral("PackageGroups")).toStringList(), package.packageGroups);
        } else {
            QVERIFY(!receipt.contains(QStringLiteral("PackageGroups")));
        }
    }
    QCOMPARE(locations.size(), 3);
    QVERIFY(sawGroups);

    // The receipts the rest of the program relies on.
    for (const char *id : {"com.apple.pkg.BSD", "com.pellucid.printers.driver", "com.apple.pkg.Essentials"})
        QVERIFY2(findReceipt(builder, QLatin1String(id)), id);
    QCOMPARE(findReceipt(builder, QStringLiteral("com.apple.pkg.BSD"))->location, Package::System);
    QCOMPARE(findReceipt(builder, QStringLiteral("com.pellucid.printers.driver"))->installProcessName,
             QStringLiteral("Software Update"));
}

void VolumeGeneratorTest::damagedReceiptsFailTheWayTheyShould()
{
    const VolumeBuilder &builder = *m_demo;
    const VolumeMapping mapping(builder.root(), kHome);
    auto package = [&](const char *id) {
        const Package *found = findReceipt(builder, QLatin1String(id));
        return found ? *found : Package();
    };

    // Cannot be opened at all: the store flags the record as damaged.
    const Package prism = package("com.lumenfold.Prism");
    QCOMPARE(prism.billDamage, Damage::Unopenable);
    QVERIFY(QFileInfo::exists(builder.physicalPath(builder.billPath(prism))));
    QVERIFY(!platform::PackageBOM::openWithBOMPath(platform::LogicalPath::make(builder.billPath(prism))));
    QVERIFY(platform::PackageReceipt::openWithBOMPath(platform::LogicalPath::make(builder.billPath(prism))));

    // Opens, but listing fails: the exception case, not flagged.
    const Package helper = package("com.lumenfold.PrismHelper");
    const auto opened = platform::PackageBOM::openWithBOMPath(platform::LogicalPath::make(builder.billPath(helper)));
    QVERIFY(opened);
    QString why;
    QVERIFY(!opened->paths(&why));
    QVERIFY(!why.isEmpty());

    // A receipt without its bill, and a receipt that is no property list.
    const Package noBill = package("net.quillon.InkwellDictionaries");
    QVERIFY(QFileInfo::exists(builder.physicalPath(builder.receiptPath(noBill))));
    QVERIFY(!QFileInfo::exists(builder.physicalPath(builder.billPath(noBill))));
    const Package garbled = package("com.oakum.pkg.docs");
    QVERIFY(QFileInfo::exists(builder.physicalPath(builder.receiptPath(garbled))));
    QVERIFY(!platform::PropertyList::readFile(builder.physicalPath(builder.receiptPath(garbled))).isValid());

    // BSD.pkg without Info.plist, and a legacy bundle whose only bill is not Archive.bom.
    const Package oldBsd = package("BSD.pkg");
    QCOMPARE(builder.bundlePath(oldBsd), QStringLiteral("/Library/Receipts/BSD.pkg"));
    QVERIFY(!QFileInfo::exists(builder.physicalPath(builder.receiptPath(oldBsd))));
    QVERIFY(BomReader::open(builder.physicalPath(builder.billPath(oldBsd))).isValid());
    const Package bare = package("LumenfoldLegacy.pkg");
    QVERIFY(!QFileInfo::exists(builder.physicalPath(builder.bundlePath(bare) + QStringLiteral("/Contents/Archive.bom"))));
    QVERIFY(BomReader::open(builder.physicalPath(builder.billPath(bare))).isValid());
}

void VolumeGeneratorTest::applicationsHaveReadableBundles()
{
    const VolumeBuilder &builder = *m_demo;

    int present = 0, gone = 0;
    for (const Package &package : builder.receipts()) {
        for (const AppBundle &app : package.applications) {
            const QString bundle = builder.physicalPath(app.movedTo.isEmpty() ? app.path : app.movedTo);
            if (!app.onDisk) {
                QVERIFY2(!QFileInfo::exists(bundle), qPrintable(bundle));
                ++gone;
                continue;
            }
            const QVariantMap info = platform::PropertyList::readFile(bundle + QStringLiteral("/Contents/Info.plist")).toMap();
            QVERIFY2(!info.isEmpty(), qPrintable(bundle));
            QCOMPARE(info.value(QStringLiteral("CFBundleIdentifier")).toString(), app.bundleIdentifier);
            QCOMPARE(info.value(QStringLiteral("CFBundleName")).toString(), app.name);
            const QFileInfo executable(bundle + QStringLiteral("/Contents/MacOS/")
                                       + info.value(QStringLiteral("CFBundleExecutable")).toString());
            QVERIFY2(executable.isFile() && executable.isExecutable(), qPrintable(executable.filePath()));
            const QString icon = info.value(QStringLiteral("CFBundleIconFile")).toString();
            if (!icon.isEmpty())
                QVERIFY(QFileInfo(bundle + QStringLiteral("/Contents/Resources/") + icon).size() > 100);
            ++present;
        }
    }
    QVERIFY(present >= 10);
    QCOMPARE(gone, 1);   // the one defunct application

    // An application inside another, and one in the Utilities folder.
    const QString agent = builder.physicalPath(QStringLiteral(
        "/Applications/Tessellate Studio.app/Contents/Library/LoginItems/Tessellate Agent.app/Contents/Info.plist"));
    QCOMPARE(platform::PropertyList::readFile(agent).toMap().value(QStringLiteral("CFBundleIdentifier")).toString(),
             QStringLiteral("org.tessellate.Studio.Agent"));
    QVERIFY(QFileInfo::exists(builder.physicalPath(QStringLiteral("/Applications/Utilities/Ledger Sync.app/Contents/MacOS/Ledger Sync"))));
}

void VolumeGeneratorTest::generatedItemsLieWhereThePlannerLooks_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("folder");
    const QString id = QStringLiteral("com.northwind.Ledger");
    const QString name = QStringLiteral("Northwind Ledger");
    QTest::newRow("preferences") << QStringLiteral("~/Library/Preferences/") + id + QStringLiteral(".plist") << false;
    QTest::newRow("lock file") << QStringLiteral("~/Library/Preferences/") + id + QStringLiteral(".plist.lockfile") << false;
    QTest::newRow("container") << QStringLiteral("~/Library/Containers/") + id << true;
    QTest::newRow("caches") << QStringLiteral("~/Library/Caches/") + id << true;
    QTest::newRow("saved state") << QStringLiteral("~/Library/Saved Application State/") + id + QStringLiteral(".savedState") << true;
    QTest::newRow("support by name") << QStringLiteral("~/Library/Application Support/") + name << true;
    QTest::newRow("logs by name") << QStringLiteral("~/Library/Logs/") + name << true;
    QTest::newRow("system preferences") << QStringLiteral("/Library/Preferences/") + id + QStringLiteral(".plist") << false;
    QTest::newRow("support by id") << QStringLiteral("~/Library/Application Support/org.tessellate.Studio") << true;
    QTest::newRow("system caches") << QStringLiteral("/Library/Caches/com.saltmarsh.Tide") << true;
    QTest::newRow("system support") << QStringLiteral("/Library/Application Support/Tide") << true;
    QTest::newRow("defunct app's leftovers") << QStringLiteral("~/Library/Preferences/io.halcyonlabs.Drift.plist") << false;
    QTest::newRow("derived name") << QStringLiteral("~/Library/Logs/Ledger Sync") << true;
}

void VolumeGeneratorTest::generatedItemsLieWhereThePlannerLooks()
{
    QFETCH(QString, path);
    QFETCH(bool, folder);
    const VolumeBuilder &builder = *m_demo;
    const QFileInfo info(builder.physicalPath(path.replace(QLatin1Char('~'), kHome)));
    QVERIFY2(info.exists(), qPrintable(path));
    QCOMPARE(info.isDir(), folder);
    if (folder)
        QVERIFY(!QDir(info.filePath()).isEmpty());
    else if (path.endsWith(QLatin1String(".plist")))
        QCOMPARE(platform::PropertyList::readFile(info.filePath()).typeId(), QMetaType::QVariantMap);
}

void VolumeGeneratorTest::movedApplicationsAreWhereTheCorrectionsLook()
{
    const VolumeBuilder &builder = *m_demo;
    auto listed = [&](const char *id, const QString &path) {
        const Package *package = findReceipt(builder, QLatin1String(id));
        if (!package)
            return false;
        for (const PathItem &item : package->paths)
            if (builder.installFolder(*package) + item.path == path)
                return true;
        return false;
    };
    // Listed under the hidden name, present under the visible one.
    const QString hidden = QStringLiteral("/Applications/.Quire.app/Contents/MacOS");
    QVERIFY(listed("com.brambleworks.Quire", hidden));
    QVERIFY(!QFileInfo::exists(builder.physicalPath(hidden)));
    QVERIFY(QFileInfo(builder.physicalPath(QStringLiteral("/Applications/Quire.app/Contents/MacOS"))).isDir());
    // Listed in a temporary folder, present in /Applications.
    const QString temporary = QStringLiteral("/tmp/net.quillon.inkwell.X7Qa/Applications/Inkwell.app/Contents/MacOS");
    QVERIFY(listed("net.quillon.Inkwell", temporary));
    QVERIFY(!QFileInfo::exists(builder.physicalPath(temporary)));
    QVERIFY(QFileInfo(builder.physicalPath(QStringLiteral("/Applications/Inkwell.app/Contents/MacOS"))).isDir());
    // The defunct one is listed and gone.
    QVERIFY(listed("io.halcyonlabs.Drift", QStringLiteral("/Applications/Drift.app/Contents/MacOS")));
    QVERIFY(!QFileInfo::exists(builder.physicalPath(QStringLiteral("/Applications/Drift.app"))));
    // Two packages list the same framework, entry for entry.
    const Package *core = findReceipt(builder, "org.tessellate.pkg.Core");
    const Package *studio = findReceipt(builder, "org.tessellate.pkg.Studio");
    QVERIFY(core && studio);
    const QString framework = QStringLiteral("Library/Frameworks/Shared.framework");
    QStringList inCore, inStudio;
    for (const QString &path : pathsOf(*core))
        if (path.startsWith(framework))
            inCore << path;
    for (const QString &path : pathsOf(*studio))
        if (path.startsWith(framework))
            inStudio << path;
    QVERIFY(inCore.size() >= 8);
    QCOMPARE(sorted(inStudio), sorted(inCore));
}

void VolumeGeneratorTest::iconsAreReadable()
{
    QTemporaryDir dir;
    VolumeBuilder builder(dir.path(), kHome);
    builder.addStandardFolders();
    QString error;
    QVERIFY2(builder.write(&error), qPrintable(error));
    if (!QImageReader::supportedImageFormats().contains("icns"))
        QSKIP("Qt's icns image plugin is not installed (qt6-image-formats-plugins)");
    for (const char *path : {"/System/Library/CoreServices/CoreTypes.bundle/Contents/Resources/GenericApplicationIcon.icns",
                             "/System/Library/CoreServices/CoreTypes.bundle/Contents/Resources/AlertStopIcon.icns",
                             "/System/Library/CoreServices/Installer.app/Contents/Resources/package.icns"}) {
        QImageReader reader(builder.physicalPath(QLatin1String(path)), "icns");
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(QLatin1String(path) + QLatin1String(": ") + reader.errorString()));
        QCOMPARE(image.size(), QSize(128, 128));
    }
}

void VolumeGeneratorTest::largeVolumeHasTheRequestedShape_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("all files") << int(FilesOnDisk::All);
    QTest::newRow("no files") << int(FilesOnDisk::None);
    QTest::newRow("a sample") << int(FilesOnDisk::Sample);
}

void VolumeGeneratorTest::largeVolumeHasTheRequestedShape()
{
    QFETCH(int, mode);
    QTemporaryDir dir;
    VolumeBuilder builder(dir.path(), kHome);
    LargeVolumeOptions options;
    options.seed = 17;
    options.packages = 30;
    options.paths = 4000;
    options.files = FilesOnDisk(mode);
    populateLargeVolume(builder, options);
    QString error;
    QVERIFY2(builder.write(&error), qPrintable(error));

    QCOMPARE(builder.receipts().size(), 30);
    QCOMPARE(builder.stats().listedPaths, qint64(4000));
    QHash<QString, int> listedBy;
    int files = 0, present = 0, deepest = 0;
    for (const Package &package : builder.receipts()) {
        QSet<QString> own;
        for (const PathItem &item : package.paths) {
            const QString logical = builder.installFolder(package) + item.path;
            own.insert(logical);
            deepest = qMax(deepest, int(logical.count(QLatin1Char('/'))));
            if (item.kind != PathItem::File)
                continue;
            ++files;
            if (QFileInfo::exists(builder.physicalPath(logical)))
                ++present;
        }
        for (const QString &path : own)
            ++listedBy[path];
        QCOMPARE(BomReader::open(builder.physicalPath(builder.billPath(package))).count(), package.paths.size());
    }
    int sharedFiles = 0;
    for (auto it = listedBy.cbegin(); it != listedBy.cend(); ++it)
        if (it.value() > 1 && it.key().contains(QLatin1String(".framework/Versions/A/")))
            ++sharedFiles;
    QVERIFY2(sharedFiles > 0, "no framework is shared by two packages");
    QVERIFY2(deepest >= 8, qPrintable(QString::number(deepest)));
    switch (FilesOnDisk(mode)) {
    case FilesOnDisk::All: QCOMPARE(present, files); break;
    case FilesOnDisk::None: QCOMPARE(present, 0); break;
    case FilesOnDisk::Sample:
        QVERIFY2(present > files / 25 && present < files / 4, qPrintable(QStringLiteral("%1 of %2").arg(present).arg(files)));
        break;
    }
}

void VolumeGeneratorTest::builderNeverWritesOutsideTheRoot()
{
    QTemporaryDir dir;
    QTemporaryDir outside;
    VolumeBuilder builder(dir.path(), kHome);
    builder.addLink(QStringLiteral("/Library/Escape"), outside.path());
    builder.addFile(QStringLiteral("/Library/Escape/planted"), "x");
    QString error;
    QVERIFY(!builder.write(&error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QDir(outside.path()).isEmpty());

    VolumeBuilder climbing(dir.path(), kHome);
    climbing.addFile(QStringLiteral("/../../planted"), "x");
    QVERIFY(!climbing.write(&error));
    QVERIFY(!QFileInfo::exists(QFileInfo(dir.path()).dir().filePath(QStringLiteral("planted"))));
}

void VolumeGeneratorTest::protectSetsTheImmutableFlag()
{
    QTemporaryDir parent;
    const QString root = parent.filePath(QStringLiteral("volume"));
    VolumeOptions options;
    options.protect = true;
    VolumeStats stats;
    QString error;
    QVERIFY2(buildDemoVolume(root, options, &stats, &error), qPrintable(error));
    const QString kext = QStringLiteral("/Library/Extensions/NorthwindAudio.kext");
    if (!platform::FileFlags::canReadFlags(root + kext))
        QSKIP("this file system keeps no inode flags");
    if (stats.protectedPaths.isEmpty()) {
        QVERIFY(removeVolume(root, &error));
        QSKIP("setting the immutable flag needs root (CAP_LINUX_IMMUTABLE)");
    }
    QCOMPARE(stats.protectedPaths, demoProtectedPaths());
    for (const QString &path : demoProtectedPaths())
        QVERIFY2(platform::FileFlags::isImmutable(root + path), qPrintable(path));
    QVERIFY(!platform::FileFlags::isImmutable(root + QStringLiteral("/Applications/Tide.app")));
    // Protected means even root cannot delete it.
    QVERIFY(!QFile::remove(root + kext + QStringLiteral("/Contents/Info.plist")));
    // A plain recursive delete stops at them, and leaves the volume
    // recognisable for removeVolume().
    QVERIFY(!QDir(root).removeRecursively());
    QVERIFY(QFileInfo::exists(root + QLatin1Char('/') + VolumeBuilder::markerName()));

    QVERIFY2(removeVolume(root, &error), qPrintable(error));
    QVERIFY(!QFileInfo::exists(root));
}

void VolumeGeneratorTest::removeVolumeRefusesForeignFolders()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("foreign/Documents")));
    const QString foreign = dir.filePath(QStringLiteral("foreign"));
    QString error;
    QVERIFY(!removeVolume(foreign, &error));
    QVERIFY(error.contains(VolumeBuilder::markerName()));
    QVERIFY(QFileInfo(foreign + QStringLiteral("/Documents")).isDir());

    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("empty")));
    QVERIFY(removeVolume(dir.filePath(QStringLiteral("empty"))));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("empty"))));
    QVERIFY(removeVolume(dir.filePath(QStringLiteral("never made"))));
    QVERIFY(!removeVolume(QString()));

    const QString volume = dir.filePath(QStringLiteral("volume"));
    QVERIFY(buildDemoVolume(volume, VolumeOptions(), nullptr, &error));
    QVERIFY2(removeVolume(volume, &error), qPrintable(error));
    QVERIFY(!QFileInfo::exists(volume));
}

QTEST_GUILESS_MAIN(VolumeGeneratorTest)
#include "tst_volumegen.moc"
