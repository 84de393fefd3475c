#include "dorvane/catalogue/CatalogueBuilder.h"

#include "platform/NameFolding.h"
#include "platform/PropertyList.h"
#include "platform/ReadLimits.h"
#include "platform/Volume.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>


namespace dorvane {

namespace {

const QString kApplications = QStringLiteral("/Applications/");
const QString kHiddenApplications = QStringLiteral("/Applications/.");
const QString kExecutableFolder = QStringLiteral(".app/Contents/MacOS");
const QString kBundleSeparator = QStringLiteral(".app/");
const QString kAppleIdentifier = QStringLiteral("com.apple.");
// The folded keys of the same.
constexpr QByteArrayView kHiddenApplicationsKey = "/applications/.";
constexpr QByteArrayView kExecutableFolderKey = ".app/contents/macos";
// The names above are ASCII, so a comparison without case is the volume's
// own: "/applications/foo.app/contents/macos" is an application there too.

bool exists(const platform::Volume &volume, const QString &path)
{
    const std::optional<platform::LogicalPath> logical = volume.path(path);
    return logical && volume.status(*logical, platform::Follow::Final);
}

// A path that moved since the install: use the new one only when the old is
// gone and the new one is there.
void correct(const platform::Volume &volume, QString &path, const QString &candidate)
{
    if (!exists(volume, path) && exists(volume, candidate))
        path = candidate;
}

QVariantMap applicationInfo(const platform::Volume &volume, const QString &executableFolder)
{
    // ".../Foo.app/Contents/MacOS" -> ".../Foo.app/Contents/Info.plist"
    const std::optional<platform::LogicalPath> info =
        volume.path(executableFolder.chopped(int(sizeof("MacOS") - 1)) + QLatin1String("Info.plist"));
    const std::optional<QByteArray> bytes = info ? volume.readFile(*info, platform::ReadLimit::kInfoPlist) : std::nullopt;
    return bytes ? platform::PropertyList::fromData(*bytes).toMap() : QVariantMap();
}

QString nonEmptyText(const QVariantMap &map, const char *key)
{
    const QVariant v = map.value(QString::fromLatin1(key));
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

} // namespace

QList<Catalogue::PathId> CatalogueBuilder::classify(PackageRecord &record, const FoldedPaths &files,
                                                    Catalogue &catalogue, const platform::Volume &volume)
{
    const QString identifier = record.packageIdentifier();
    const quint32 package = catalogue.addPackage(identifier, record.hasUserPrefix());
    QList<Catalogue::PathId> ids;
    ids.reserve(files.size());
    QStringList names;
    QStringList paths;
    QStringList bundleIdentifiers;
    // "/tmp/" in the form paths take on this volume ("/private/tmp/" on a Mac).
    const QString temporaryFolder = volume.top().child(u"tmp").toFolderString();
    const QByteArray temporaryKey = platform::foldedNameUtf8(temporaryFolder.toUtf8());

    for (qsizetype i = 0; i < files.size(); ++i) {
        // The tests below compare without case, on ASCII names; the folded
        // key holds every such match as that same ASCII, so a path whose key
        // matches none of them needs no look (nor any string) at all.
        const QByteArrayView key = files.key(i);
        if (!key.startsWith(temporaryKey) && !key.startsWith(kHiddenApplicationsKey)
            && !key.endsWith(kExecutableFolderKey)) {
            ids.append(catalogue.addFile(files, i, package));
            continue;
        }
        QString path = QString::fromUtf8(files.spelling(i));

        if (path.startsWith(temporaryFolder, Qt::CaseInsensitive)) {
            const qsizetype applications = path.indexOf(kApplications, 0, Qt::CaseInsensitive);
            if (applications >= 0)
                correct(volume, path, path.mid(applications));
        }
        const bool inApplications = path.startsWith(kApplications, Qt::CaseInsensitive);
        if (inApplications && path.size() >= 15 && path.at(14) == QLatin1Char('.'))
            correct(volume, path, QString(path).replace(kHiddenApplications, kApplications, Qt::CaseInsensitive));

        ids.append(catalogue.addFile(path, package));

        if (!path.endsWith(kExecutableFolder, Qt::CaseInsensitive))
            continue;
        const qsizetype slashes = path.count(QLatin1Char('/'));
        const bool topLevelApplication = inApplications && (slashes == 4 || slashes == 5)
                                         && path.count(kBundleSeparator, Qt::CaseInsensitive) == 1;
        const QVariantMap info = applicationInfo(volume, path);
        const QString bundleIdentifier = nonEmptyText(info, "CFBundleIdentifier");
        if (!bundleIdentifier.isEmpty())
            bundleIdentifiers.append(bundleIdentifier);
        if (!topLevelApplication)
            continue; // nested or deeper applications only lend their identifier

        QString name = path.mid(kApplications.size(), path.size() - kApplications.size() - kExecutableFolder.size());
        if (name.contains(QLatin1Char('/')))
            name = name.section(QLatin1Char('/'), 1, 1);
        const QString applicationPath = path.chopped(int(sizeof("Contents/MacOS") - 1));

        if (!identifier.contains(kAppleIdentifier)) {
            catalogue.applicationPackageIdentifiers.append(identifier);
            if (exists(volume, path)) {
                record.setValue(PackageKey::IconPath, kApplicationIcon);
            } else {
                catalogue.defunctappPackageIdentifiers.append(identifier);
                record.setValue(PackageKey::IconPath, kDefunctIcon);
            }
        }
        const QString displayName = info.contains(QStringLiteral("CFBundleName"))
                                        ? info.value(QStringLiteral("CFBundleName")).toString()
                                        : name;
        if (!displayName.isEmpty())
            names.append(displayName);
        if (!applicationPath.isEmpty())
            paths.append(applicationPath);
    }

    record.startInstallSize();
    record.setValue(PackageKey::AppNames, names);
    record.setValue(PackageKey::AppPaths, paths);
    record.setValue(PackageKey::AppBuIDs, bundleIdentifiers);
    return ids;
}

std::optional<Catalogue> CatalogueBuilder::build(const ReceiptReader &reader, const IgnoredInstaller &isIgnored,
                                                 const QString &damagedIconPath, const ProgressFunction &progress,
                                                 const BatchAdded &batchAdded)
{
    struct Package
    {
        PackageRecord record;
        FoldedPaths files;
    };
    QList<Package> packages;
    for (PackageRecord &record : reader.packages())
        packages.append({std::move(record), {}});
    if (packages.isEmpty())
        return std::nullopt;

    Catalogue catalogue;
    // Reading the bills is most of the work and each package's is its own,
    // so a batch is read side by side while the batch before is put into
    // the catalogue, in order; a batch's texts are dropped once it is in, so
    // they never all live at once. The pool is the scan's own: the scan runs
    // on a thread of the global pool, which must not wait for that pool's
    // other threads. Two batches' texts are in memory at a time, the first
    // ones in fresh pages: batches of 16 packages rather than 32 take a
    // quarter fewer page faults, and less time.
    QThreadPool pool;
    constexpr qsizetype kBatch = 16;
    const auto read = [&](qsizetype start) {
        const qsizetype end = std::min(packages.size(), start + kBatch);
        return QtConcurrent::map(&pool, packages.begin() + start, packages.begin() + end, [&](Package &package) {
            const platform::LogicalPath location = reader.installLocation(package.record);
            // Folded and hashed here, side by side, so that only the table's
            // look-up is left for the catalogue's thread; the room for the
            // spellings and their keys (about as long) is made at once.
            reader.forEachFile(
                package.record, location, [&](QByteArrayView path) { package.files.append(path); },
                [&](qsizetype paths, qsizetype bytes) { package.files.reserve(paths, 2 * bytes); });
        });
    };
    QFuture<void> reading = read(0);
    for (qsizetype start = 0; start < packages.size(); start += kBatch) {
        reading.waitForFinished();
        if (start + kBatch < packages.size())
            reading = read(start + kBatch);
        const qsizetype end = std::min(packages.size(), start + kBatch);
        for (qsizetype i = start; i < end; ++i)
            add(packages[i].record, std::exchange(packages[i].files, {}), catalogue, reader.volume(), isIgnored,
                damagedIconPath, progress);
        if (batchAdded)
            batchAdded(catalogue);
    }
    return catalogue;
}

void CatalogueBuilder::add(PackageRecord &record, const FoldedPaths &files, Catalogue &catalogue,
                           const platform::Volume &volume, const IgnoredInstaller &isIgnored,
                           const QString &damagedIconPath, const ProgressFunction &progress)
{
    const QString identifier = record.packageIdentifier();
    if (progress)
        progress(identifier);

    QList<Catalogue::PathId> ids = classify(record, files, catalogue, volume);
    if (!record.contains(PackageKey::IconPath))
        record.setValue(PackageKey::IconPath, kPackageIcon);
    if (record.isDamaged())
        record.setValue(PackageKey::IconPath, damagedIconPath);

    const QVariant installer = record.value(PackageKey::InstallProcessName);
    if (installer.typeId() == QMetaType::QString && isIgnored && isIgnored(installer.toString())) {
        catalogue.allPackages.append(record);
    } else {
        catalogue.installerPackages.append(record);
        catalogue.setFilesForPackage(identifier, std::move(ids));
    }
}

} // namespace dorvane
