#include "VolumeBuilder.h"

#include "BundleLayout.h"
#include "DamagedFiles.h"
#include "DiskWriter.h"
#include "GeneratedFiles.h"
#include "IconMaker.h"
#include "ImmutableFlag.h"

#include "platform/bom/BomWriter.h"
#include "platform/bom/PosixChecksum.h"

#include <QDir>
#include <QHash>
#include <QSet>

namespace volumegen {

namespace {

using platform::BomEntry;
using platform::PropertyList::Format;

const QDateTime kDefaultInstallDate(QDate(2023, 5, 4), QTime(10, 30), Qt::UTC);

// The cksum of `size` zero bytes without reading them: the CRC of zeros from
// a zero start stays zero, so only the appended length counts.
quint32 zeroChecksum(quint64 size)
{
    quint32 crc = 0;
    for (quint64 length = size; length != 0; length >>= 8) {
        crc ^= quint32(length & 0xFF) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : (crc << 1);
    }
    return ~crc;
}

QString stripLeading(QString path)
{
    while (path.startsWith(QLatin1String("./")))
        path.remove(0, 2);
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    return path;
}

bool hasDotDot(const QString &path)
{
    return path.split(QLatin1Char('/')).contains(QLatin1String(".."));
}

QString modernName(const Package &package)
{
    return package.receiptName.isEmpty() ? package.identifier : package.receiptName;
}

QString packageFileName(const Package &package)
{
    return package.fileName.isEmpty() ? package.identifier.section(QLatin1Char('.'), -1) + QStringLiteral(".pkg")
                                   : package.fileName;
}

QString legacyName(const Package &package)
{
    if (!package.receiptName.isEmpty())
        return package.receiptName;
    QString name = packageFileName(package);
    if (name.endsWith(QLatin1String(".pkg")))
        name.chop(4);
    return name;
}

BomEntry billEntry(const PathItem &item, const Package &package, quint32 mtime)
{
    BomEntry entry;
    entry.path = item.path;
    entry.uid = package.uid;
    entry.gid = package.gid;
    entry.mtime = mtime;
    switch (item.kind) {
    case PathItem::Folder:
        entry.type = BomEntry::Type::Directory;
        entry.mode = 040755;
        break;
    case PathItem::Link:
        entry.type = BomEntry::Type::Link;
        entry.mode = 0120755;
        entry.linkTarget = item.linkTarget;
        break;
    case PathItem::File:
        entry.type = BomEntry::Type::File;
        entry.mode = item.executable ? 0100755 : 0100644;
        entry.size = item.contents.isNull() ? item.size : quint64(item.contents.size());
        entry.checksum = item.contents.isNull() ? zeroChecksum(item.size) : platform::posixChecksum(item.contents);
        break;
    }
    return entry;
}

QVariantMap modernReceipt(const Package &package, const QDateTime &date)
{
    QVariantMap receipt{
        {QStringLiteral("PackageIdentifier"), package.identifier},
        {QStringLiteral("PackageVersion"), package.version},
        {QStringLiteral("PackageFileName"), packageFileName(package)},
        {QStringLiteral("InstallDate"), date},
        {QStringLiteral("InstallPrefixPath"), package.prefix},
        {QStringLiteral("InstallProcessName"), package.installProcessName},
    };
    if (!package.packageGroups.isEmpty())
        receipt.insert(QStringLiteral("PackageGroups"), QVariant(package.packageGroups).toList());
    return receipt;
}

QVariantMap legacyInfo(const Package &package, quint64 listedBytes)
{
    const QStringList version = package.version.split(QLatin1Char('.'));
    QVariantMap info{
        {QStringLiteral("CFBundleGetInfoString"), legacyName(package) + QLatin1Char(' ') + package.version},
        {QStringLiteral("CFBundleShortVersionString"), package.version},
        {QStringLiteral("IFMajorVersion"), qint64(version.value(0).toInt())},
        {QStringLiteral("IFMinorVersion"), qint64(version.value(1).toInt())},
        {QStringLiteral("IFPkgFlagAuthorizationAction"), QStringLiteral("AdminAuthorization")},
        {QStringLiteral("IFPkgFlagDefaultLocation"), package.prefix},
        {QStringLiteral("IFPkgFlagInstalledSize"), qint64(listedBytes / 1024)},
        {QStringLiteral("IFPkgFlagRelocatable"), !package.relocatedPrefix.isEmpty()},
        {QStringLiteral("IFPkgFlagRestartAction"), QStringLiteral("NoRestart")},
        {QStringLiteral("IFPkgFormatVersion"), 0.10000000149011612},
    };
    if (!package.legacyWithoutIdentifier)
        info.insert(QStringLiteral("CFBundleIdentifier"), package.identifier);
    // Without an identifier the store names the package by CFBundleName, so
    // that is where the identifier goes.
    if (!package.legacyWithoutName)
        info.insert(QStringLiteral("CFBundleName"), package.legacyWithoutIdentifier ? package.identifier : legacyName(package));
    if (!package.relocatedPrefix.isEmpty())
        info.insert(QStringLiteral("IFPkgRelocatedPath"), package.relocatedPrefix);
    return info;
}

} // namespace

VolumeBuilder::VolumeBuilder(const QString &physicalRoot, const QString &logicalHome)
    : m_root(physicalRoot.isEmpty() ? QString() : QDir::cleanPath(QDir(physicalRoot).absolutePath()))
    , m_home(QDir::cleanPath(QLatin1Char('/') + logicalHome))
{
}

QString VolumeBuilder::physicalPath(const QString &logical) const
{
    return DiskWriter::physicalPath(m_root, logical);
}

QString VolumeBuilder::markerName()
{
    return QStringLiteral(".mkvolume");
}

void VolumeBuilder::addStandardFolders()
{
    const QStringList folders{
        QStringLiteral("/Applications/Utilities"),
        QStringLiteral("/Library/Application Support"), QStringLiteral("/Library/Caches"),
        QStringLiteral("/Library/Extensions"), QStringLiteral("/Library/Fonts"),
        QStringLiteral("/Library/Frameworks"), QStringLiteral("/Library/LaunchAgents"),
        QStringLiteral("/Library/LaunchDaemons"), QStringLiteral("/Library/Logs"),
        QStringLiteral("/Library/Preferences"), QStringLiteral("/Library/PrivilegedHelperTools"),
        QStringLiteral("/Library/Receipts"), QStringLiteral("/System/Library/CoreServices"),
        QStringLiteral("/private/etc"), QStringLiteral("/private/tmp"),
        QStringLiteral("/private/var/db/receipts"), QStringLiteral("/private/var/log"),
        QStringLiteral("/bin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/usr/lib"),
        QStringLiteral("/usr/libexec"), QStringLiteral("/usr/sbin"), QStringLiteral("/usr/share"),
        QStringLiteral("/usr/local"), QStringLiteral("/Users/Shared"),
    };
    for (const QString &folder : folders)
        addFolder(folder);
    for (const char *folder : {"Desktop", "Documents", "Downloads", "Library/Application Support", "Library/Caches",
                               "Library/Containers", "Library/LaunchAgents", "Library/Logs", "Library/Preferences",
                               "Library/Receipts", "Library/Saved Application State"})
        addFolder(m_home + QLatin1Char('/') + QLatin1String(folder));
    // As on the Mac: relative, so that they stay inside the volume.
    addLink(QStringLiteral("/etc"), QStringLiteral("private/etc"));
    addLink(QStringLiteral("/tmp"), QStringLiteral("private/tmp"));
    addLink(QStringLiteral("/var"), QStringLiteral("private/var"));
    // The icons the package list shows for applications, gone applications
    // and other packages.
    const QString coreTypes = QStringLiteral("/System/Library/CoreServices/CoreTypes.bundle/Contents/Resources/");
    addFile(coreTypes + QStringLiteral("GenericApplicationIcon.icns"), IconMaker::icns(IconMaker::Style::Application, 210));
    addFile(coreTypes + QStringLiteral("AlertStopIcon.icns"), IconMaker::icns(IconMaker::Style::Stop));
    addFile(QStringLiteral("/System/Library/CoreServices/Installer.app/Contents/Resources/package.icns"),
            IconMaker::icns(IconMaker::Style::Package));
}

QString VolumeBuilder::installFolder(const Package &package) const
{
    QString folder = package.location == Package::Legacy && !package.relocatedPrefix.isEmpty() ? package.relocatedPrefix
                                                                                               : package.prefix;
    if (!folder.startsWith(QLatin1Char('/')))
        folder.prepend(QLatin1Char('/'));
    if (package.location == Package::User)
        folder = m_home + (folder == QLatin1String("/") ? QString() : folder);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

QString VolumeBuilder::bundlePath(const Package &package) const
{
    return package.location == Package::Legacy
        ? QStringLiteral("/Library/Receipts/") + legacyName(package) + QStringLiteral(".pkg")
        : QString();
}

QString VolumeBuilder::receiptPath(const Package &package) const
{
    switch (package.location) {
    case Package::System: return QStringLiteral("/private/var/db/receipts/") + modernName(package) + QStringLiteral(".plist");
    case Package::User: return m_home + QStringLiteral("/Library/Receipts/") + modernName(package) + QStringLiteral(".plist");
    case Package::Legacy: break;
    }
    return bundlePath(package) + QStringLiteral("/Contents/Info.plist");
}

QString VolumeBuilder::billPath(const Package &package) const
{
    if (package.location == Package::Legacy)
        return bundlePath(package) + QLatin1Char('/') + package.legacyBillPath;
    return receiptPath(package).chopped(6) + QStringLiteral(".bom");
}

void VolumeBuilder::addReceipt(Package package)
{
    const QString folder = installFolder(package);
    QList<PathItem> given = package.paths;
    for (const AppBundle &app : std::as_const(package.applications)) {
        if (!app.path.startsWith(folder) || app.path.size() <= folder.size()) {
            m_problems << QStringLiteral("%1 lies outside the install folder %2 of %3").arg(app.path, folder, package.identifier);
            continue;
        }
        given << BundleLayout::paths(app, app.path.mid(folder.size()));
        if (app.generated)
            addGeneratedFiles(app.bundleIdentifier, BundleLayout::displayName(app), app.generated);
    }

    QList<PathItem> complete;
    complete.reserve(given.size() + given.size() / 8);
    QHash<QString, qsizetype> position;
    QSet<QString> implied;
    for (PathItem item : std::as_const(given)) {
        item.path = stripLeading(item.path);
        if (item.path.isEmpty())
            continue;
        if (const auto it = position.constFind(item.path); it != position.cend()) {
            // A folder that completion put in earlier takes what the caller says about it.
            if (implied.remove(item.path) && item.kind == PathItem::Folder)
                complete[*it] = item;
            continue;
        }
        for (qsizetype slash = item.path.indexOf(QLatin1Char('/')); slash > 0;
             slash = item.path.indexOf(QLatin1Char('/'), slash + 1)) {
            const QString parent = item.path.left(slash);
            if (position.contains(parent))
                continue;
            PathItem folderItem = PathItem::folder(parent);
            folderItem.onDisk = false;   // made by what lies inside it, if anything does
            position.insert(parent, complete.size());
            implied.insert(parent);
            complete << folderItem;
        }
        position.insert(item.path, complete.size());
        complete << item;
    }
    package.paths = complete;
    m_receipts << package;
}

void VolumeBuilder::addApplication(const AppBundle &app)
{
    m_loose << BundleLayout::paths(app, app.path);
    if (app.generated)
        addGeneratedFiles(app.bundleIdentifier, BundleLayout::displayName(app), app.generated);
}

void VolumeBuilder::addGeneratedFiles(const QString &bundleIdentifier, const QString &appName, GeneratedItems items)
{
    m_loose << GeneratedFiles::paths(m_home, bundleIdentifier, appName, items);
}

void VolumeBuilder::addFile(const QString &logical, const QByteArray &contents)
{
    PathItem item = PathItem::file(logical, 0);
    item.contents = contents.isNull() ? QByteArray("") : contents;
    m_loose << item;
}

void VolumeBuilder::addSparseFile(const QString &logical, quint64 size)
{
    m_loose << PathItem::file(logical, size);
}

void VolumeBuilder::addFolder(const QString &logical)
{
    m_loose << PathItem::folder(logical);
}

void VolumeBuilder::addLink(const QString &logical, const QString &target)
{
    m_loose << PathItem::link(logical, target);
}

bool VolumeBuilder::makeItem(const PathItem &item, const QString &logical, DiskWriter &disk, QString *error)
{
    if (!item.onDisk)
        return true;
    const QString at = item.movedTo.isEmpty() ? logical : item.movedTo;
    if (hasDotDot(at)) {
        if (error)
            *error = QStringLiteral("%1 climbs with \"..\"").arg(at);
        return false;
    }
    bool ok = false;
    switch (item.kind) {
    case PathItem::Folder:
        ok = disk.makeFolder(at);
        ++m_stats.foldersCreated;
        break;
    case PathItem::File:
        ok = disk.makeFile(at, item.size, item.contents.isNull() ? nullptr : &item.contents, item.executable);
        ++m_stats.filesCreated;
        break;
    case PathItem::Link:
        ok = disk.makeLink(at, item.linkTarget);
        ++m_stats.filesCreated;
        break;
    }
    if (!ok && error)
        *error = disk.errorString();
    return ok;
}

bool VolumeBuilder::writeReceipt(const Package &package, DiskWriter &disk, QString *error)
{
    const QString folder = installFolder(package);
    const QDateTime date = package.installDate.isValid() ? package.installDate : kDefaultInstallDate;
    const quint32 mtime = quint32(date.toSecsSinceEpoch());

    platform::BomWriter bill;
    QString problem;
    BomEntry root;
    root.type = BomEntry::Type::Directory;
    root.mode = 040755;
    root.uid = package.uid;
    root.gid = package.gid;
    root.mtime = mtime;
    bill.addEntry(root);
    quint64 listedBytes = 0;
    for (const PathItem &item : package.paths) {
        if (!makeItem(item, folder + item.path, disk, error))
            return false;
        const BomEntry entry = billEntry(item, package, mtime);
        if (!bill.addEntry(entry, &problem)) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(package.identifier, problem);
            return false;
        }
        if (entry.type == BomEntry::Type::File)
            listedBytes += entry.size;
    }
    m_stats.listedPaths += package.paths.size();
    m_stats.listedBytes += listedBytes;

    QByteArray billBytes = bill.toByteArray();
    switch (package.billDamage) {
    case Damage::None: break;
    case Damage::Missing: billBytes.clear(); break;
    case Damage::Unopenable: billBytes = DamagedFiles::unopenableBill(billBytes); break;
    case Damage::Corrupt: billBytes = DamagedFiles::corruptBill(billBytes); break;
    }
    if (package.billDamage != Damage::Missing) {
        if (billBytes.isEmpty()) {
            if (error)
                *error = QStringLiteral("%1: the bill cannot be made").arg(package.identifier);
            return false;
        }
        if (!disk.makeFile(billPath(package), 0, &billBytes, false)) {
            if (error)
                *error = disk.errorString();
            return false;
        }
    }

    const bool legacy = package.location == Package::Legacy;
    const QVariantMap receipt = legacy ? legacyInfo(package, listedBytes) : modernReceipt(package, date);
    QByteArray receiptBytes = platform::PropertyList::toData(receipt, package.format);
    switch (package.receiptDamage) {
    case Damage::None:
    case Damage::Missing: break;
    case Damage::Unopenable: receiptBytes = DamagedFiles::unopenableReceipt(receiptBytes); break;
    case Damage::Corrupt: receiptBytes = platform::PropertyList::toData(QVariantList{receipt}, package.format); break;
    }
    if (package.receiptDamage != Damage::Missing && !disk.makeFile(receiptPath(package), 0, &receiptBytes, false)) {
        if (error)
            *error = disk.errorString();
        return false;
    }
    if (legacy) {
        const QByteArray pkgInfo("pmkrpkg1");
        if (!disk.makeFile(bundlePath(package) + QStringLiteral("/Contents/PkgInfo"), 0, &pkgInfo, false)) {
            if (error)
                *error = disk.errorString();
            return false;
        }
    }
    ++m_stats.receipts;
    return true;
}

bool VolumeBuilder::write(QString *error)
{
    if (!m_problems.isEmpty()) {
        if (error)
            *error = m_problems.join(QLatin1String("; "));
        return false;
    }
    if (m_root.isEmpty() || m_root == QLatin1String("/")) {
        if (error)
            *error = QStringLiteral("a volume is never built over the machine's own root");
        return false;
    }
    if (!QDir().mkpath(m_root)) {
        if (error)
            *error = QStringLiteral("cannot make the folder %1").arg(m_root);
        return false;
    }
    DiskWriter disk(m_root);
    const QByteArray marker("A volume made by mkvolume; removeVolume() deletes only folders that hold this file.\n");
    if (!disk.makeFile(QLatin1Char('/') + markerName(), 0, &marker, false)) {
        if (error)
            *error = disk.errorString();
        return false;
    }
    // Loose items first: they hold the links into /private that packages
    // may install through.
    for (const PathItem &item : std::as_const(m_loose))
        if (!makeItem(item, item.path, disk, error))
            return false;
    m_loose.clear();
    for (; m_written < m_receipts.size(); ++m_written)
        if (!writeReceipt(m_receipts.at(m_written), disk, error))
            return false;
    return true;
}

bool VolumeBuilder::protect(const QString &logical)
{
    if (!ImmutableFlag::set(physicalPath(logical), true))
        return false;
    // The marker is protected along with the first item, so that an
    // "rm -rf" which stops at the protected items cannot leave a folder
    // that removeVolume() no longer recognises.
    if (m_stats.protectedPaths.isEmpty())
        ImmutableFlag::set(physicalPath(QLatin1Char('/') + markerName()), true);
    m_stats.protectedPaths << logical;
    return true;
}

} // namespace volumegen
