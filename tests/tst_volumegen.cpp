#include "VolumeGenerator.h"
#include "support/FixturePackages.h"

#include "platform/FileFlags.h"
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
namespace PropertyList = platform::PropertyList;

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

class VolumeGeneratorTest : public QObject
{
    Q_OBJECT

    // One demo volume for the tests that only read it.
    QTemporaryDir m_demoDir;
    std::unique_ptr<VolumeBuilder> m_demo;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_demoDir.isValid());
        m_demo = std::make_unique<VolumeBuilder>(m_demoDir.path(), kHome);
        populateDemoVolume(*m_demo, 5);
        QString error;
        QVERIFY2(m_demo->write(&error), qPrintable(error));
    }

    void sameSeedGivesTheSameVolume_data()
    {
        QTest::addColumn<bool>("large");
        QTest::newRow("demo") << false;
        QTest::newRow("large") << true;
    }

    void sameSeedGivesTheSameVolume()
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

    void billListsExactlyTheGivenPaths()
    {
        QTemporaryDir dir;
        VolumeBuilder builder(dir.path(), kHome);
        const Package fonts = package("com.example.exact",
                                      {PathItem::folder("Library"), PathItem::folder("Library/Fonts"),
                                       PathItem::file("Library/Fonts/A.otf", 70000),
                                       PathItem::link("Library/Fonts/B.otf", "A.otf"),
                                       PathItem::file("Library/Fonts/Icon\r", 0)});
        // The same file twice, once with a "/".
        Package gaps = package("com.example.gaps", {PathItem::file("/Library/Deep/Er/File.txt", 10),
                                                    PathItem::file("Library/Deep/Er/File.txt", 10)});
        gaps.location = Package::User;
        builder.addReceipt(fonts);
        builder.addReceipt(gaps);
        QString error;
        QVERIFY2(builder.write(&error), qPrintable(error));

        const BomReader exact = BomReader::open(builder.physicalPath(builder.billPath(fonts)));
        QVERIFY2(exact.isValid(), qPrintable(exact.errorString()));
        QCOMPARE(sorted(exact.paths()), sorted(pathsOf(fonts)));
        QCOMPARE(QFileInfo(builder.physicalPath("/Library/Fonts/B.otf")).symLinkTarget(),
                 builder.physicalPath("/Library/Fonts/A.otf"));
        QVERIFY(QFileInfo::exists(builder.physicalPath("/Library/Fonts/Icon\r")));

        // Parents the caller left out are listed, as in every real bill; the
        // duplicate is listed once; the user's receipt installs into the home.
        const BomReader completed = BomReader::open(builder.physicalPath(builder.billPath(gaps)));
        QCOMPARE(completed.paths(),
                 (QStringList{"Library", "Library/Deep", "Library/Deep/Er", "Library/Deep/Er/File.txt"}));
        QCOMPARE(builder.billPath(gaps), kHome + "/Library/Receipts/com.example.gaps.bom");
        QVERIFY(QFileInfo::exists(builder.physicalPath(kHome + "/Library/Deep/Er/File.txt")));
    }

    // What a bill says of a file (size, checksum, link target) is what the disk holds.
    void demoBillsMatchTheirReceiptsAndTheDisk()
    {
        const VolumeBuilder &builder = *m_demo;
        int intact = 0, filesCompared = 0, linksCompared = 0;
        for (const Package &package : builder.receipts()) {
            if (package.billDamage != Damage::None)
                continue;
            ++intact;
            const BomReader bill = BomReader::open(builder.physicalPath(builder.billPath(package)));
            QVERIFY2(bill.isValid(), qPrintable(package.identifier + ": " + bill.errorString()));
            QCOMPARE(sorted(bill.paths()), sorted(pathsOf(package)));

            QHash<QString, const PathItem *> byPath;
            for (const PathItem &item : package.paths)
                byPath.insert(item.path, &item);
            for (const BomEntry &entry : bill.entries()) {
                const PathItem *item = byPath.value(entry.path);
                if (!item->onDisk || entry.size > 8 * 1024 * 1024)
                    continue;
                const QString at = item->movedTo.isEmpty() ? builder.installFolder(package) + item->path : item->movedTo;
                const QString physical = builder.physicalPath(at);
                if (entry.type == BomEntry::Type::Link) {
                    QCOMPARE(QFile::symLinkTarget(physical).isEmpty(), false);
                    QCOMPARE(entry.checksum, platform::posixChecksum(entry.linkTarget.toUtf8()));
                    ++linksCompared;
                } else if (entry.type == BomEntry::Type::File) {
                    QFile file(physical);
                    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
                    const QByteArray content = file.readAll();
                    QCOMPARE(quint64(content.size()), entry.size);
                    QCOMPARE(entry.checksum, platform::posixChecksum(content));
                    ++filesCompared;
                }
            }
        }
        QVERIFY(intact >= 20);
        QVERIFY(filesCompared >= 100);
        QVERIFY(linksCompared >= 1);
    }

    // Every intact receipt reads back with the keys of its package, through the
    // same property-list and receipt readers the program uses.
    void receiptsCarryTheInstallerKeys()
    {
        const VolumeBuilder &builder = *m_demo;
        platform::Volume::configure(builder.root(), kHome);
        const auto unmap = qScopeGuard([] { platform::Volume::configure(QString(), QString()); });
        QSet<Package::Location> locations;
        int damaged = 0;
        for (const Package &package : builder.receipts()) {
            if (package.receiptDamage != Damage::None) {
                ++damaged;
                continue;
            }
            locations.insert(package.location);
            QString problem;
            const QVariant value = PropertyList::readFile(builder.physicalPath(builder.receiptPath(package)), &problem);
            QVERIFY2(value.typeId() == QMetaType::QVariantMap, qPrintable(package.identifier + ": " + problem));
            const QVariantMap receipt = value.toMap();
            const auto bill = platform::volumePath(builder.billPath(package)).value();
            const auto prefix = platform::PackageReceipt::openWithBOMPath(bill);
            QVERIFY2(prefix && prefix->installPrefixPath(), qPrintable(package.identifier));
            if (package.location == Package::Legacy) {
                QCOMPARE(receipt.value("CFBundleShortVersionString").toString(), package.version);
                QCOMPARE(*prefix->installPrefixPath(),
                         package.relocatedPrefix.isEmpty() ? package.prefix : package.relocatedPrefix);
                continue;
            }
            const QVariantMap expected{{"PackageIdentifier", package.identifier}, {"PackageVersion", package.version},
                                       {"InstallDate", package.installDate}, {"InstallPrefixPath", package.prefix},
                                       {"InstallProcessName", package.installProcessName}};
            for (auto it = expected.cbegin(); it != expected.cend(); ++it)
                QCOMPARE(receipt.value(it.key()), it.value());
            QCOMPARE(receipt.value("PackageGroups").toStringList(), package.packageGroups);
            QCOMPARE(*prefix->installPrefixPath(), package.prefix);
        }
        QCOMPARE(locations.size(), 3);
        QVERIFY(damaged >= 1);
    }

    void applicationsHaveReadableBundles()
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
                const QVariantMap info = PropertyList::readFile(bundle + "/Contents/Info.plist").toMap();
                QCOMPARE(info.value("CFBundleIdentifier").toString(), app.bundleIdentifier);
                QCOMPARE(info.value("CFBundleName").toString(), app.name);
                const QFileInfo executable(bundle + "/Contents/MacOS/" + info.value("CFBundleExecutable").toString());
                QVERIFY2(executable.isFile() && executable.isExecutable(), qPrintable(executable.filePath()));
                ++present;
            }
        }
        QVERIFY(present >= 10);
        QCOMPARE(gone, 1);   // the one defunct application
    }

    // The icons the builder draws read back through Qt's own icns reader.
    void iconsAreReadable()
    {
        if (!QImageReader::supportedImageFormats().contains("icns"))
            QSKIP("Qt's icns image plugin is not installed (qt6-image-formats-plugins)");
        for (const QString path : {"/System/Library/CoreServices/CoreTypes.bundle/Contents/Resources/"
                                   "GenericApplicationIcon.icns",
                                   "/System/Library/CoreServices/Installer.app/Contents/Resources/package.icns"}) {
            QImageReader reader(m_demo->physicalPath(path), "icns");
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(path + ": " + reader.errorString()));
            QCOMPARE(image.size(), QSize(128, 128));
        }
    }

    void largeVolumeHasTheRequestedShape_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("all files") << int(FilesOnDisk::All);
        QTest::newRow("no files") << int(FilesOnDisk::None);
        QTest::newRow("a sample") << int(FilesOnDisk::Sample);
    }

    void largeVolumeHasTheRequestedShape()
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
            for (const PathItem &item : package.paths) {
                const QString logical = builder.installFolder(package) + item.path;
                ++listedBy[logical];
                deepest = qMax(deepest, int(logical.count(QLatin1Char('/'))));
                if (item.kind == PathItem::File) {
                    ++files;
                    present += QFileInfo::exists(builder.physicalPath(logical));
                }
            }
        }
        const auto shared = [&](const QString &path) {
            return listedBy.value(path) > 1 && path.contains(QLatin1String(".framework/Versions/A/"));
        };
        QVERIFY2(std::any_of(listedBy.keyBegin(), listedBy.keyEnd(), shared), "no framework is shared by two packages");
        QVERIFY2(deepest >= 8, qPrintable(QString::number(deepest)));
        const int low = mode == int(FilesOnDisk::All) ? files : mode == int(FilesOnDisk::None) ? 0 : files / 25 + 1;
        const int high = mode == int(FilesOnDisk::Sample) ? files / 4 - 1 : low;
        QVERIFY2(present >= low && present <= high, qPrintable(QStringLiteral("%1 of %2").arg(present).arg(files)));
    }

    void builderNeverWritesOutsideTheRoot()
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

    void protectSetsTheImmutableFlag()
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

    void removeVolumeRefusesForeignFolders()
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
};

QTEST_GUILESS_MAIN(VolumeGeneratorTest)
#include "tst_volumegen.moc"
