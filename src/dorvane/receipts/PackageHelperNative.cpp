#include "dorvane/receipts/PackageHelperNative.h"

#include "kestrum/Feedback.h"
#include "kestrum/FileSystem.h"
#include "kestrum/Format.h"
#include "kestrum/Log.h"
#include "platform/PackageBOM.h"
#include "platform/PackageReceipt.h"
#include "platform/PropertyList.h"
#include "platform/Volume.h"

#include <QFileInfo>

namespace dorvane {

using kestrum::asl_NSLog;
using kestrum::LogError;

namespace {

// The folder's immediate entries with exactly this extension, as absolute
// paths, in the file system's order.
QStringList entriesWithExtension(const QString &folder, const QString &extension)
{
    QStringList result;
    const QStringList names = kestrum::dirContents(folder).value_or(QStringList());
    for (const QString &name : names) {
        if (QFileInfo(name).suffix() == extension)
            result.append(folder + name);
    }
    return result;
}

QVariant readPropertyList(const QString &logicalPath, bool *readable)
{
    const std::optional<QByteArray> bytes = kestrum::contents(logicalPath);
    *readable = bytes.has_value();
    if (!bytes)
        return QVariant();
    return platform::PropertyList::fromData(*bytes);
}

void addModernReceipts(const QStringList &plistPaths, const QString &userFolder, QList<PackageRecord> &result)
{
    for (const QString &plistPath : plistPaths) {
        bool readable = false;
        const QVariant parsed = readPropertyList(plistPath, &readable);
        if (!parsed.isValid()) {
            asl_NSLog(LogError, "Error: damaged receipt installed %@", plistPath);
            continue;
        }
        if (parsed.typeId() != QMetaType::QVariantMap) {
            asl_NSLog(LogError, "Error: receipt with array installed %@", plistPath);
            kestrum::alert_feedback_nonfatal(QStringLiteral("Dorvane encountered a malformed package receipt."),
                                             kestrum::makeString("\nfile: %@\n\ncontent: %@", plistPath,
                                                                 kestrum::describe(parsed)));
            continue;
        }
        PackageRecord record(parsed.toMap());
        // Only the extension is replaced: "a.plistreader.plist" has the bill
        // "a.plistreader.bom".
        const QString bomPath = plistPath.chopped(5) + QLatin1String("bom");
        record.setValue(PackageKey::BOMPath, bomPath);
        record.setValue(PackageKey::PlistPath, plistPath);
        if (plistPath.startsWith(userFolder))
            record.setUserPrefix();
        if (kestrum::fileExists(bomPath))
            result.append(record);
        else
            asl_NSLog(LogError, "Error: receipt plist without accompanying BOM installed, please remove manually: %@",
                      plistPath);
    }
}

// The bill of a legacy bundle: "Contents/Archive.bom", else the one ".bom"
// anywhere inside the bundle. Empty when there is none or more than one.
QString legacyBill(const QString &bundlePath, const QString &infoPath)
{
    const QString archive = infoPath.section(QLatin1Char('/'), 0, -2) + QLatin1String("/Archive.bom");
    if (kestrum::fileExists(archive))
        return archive;
    QStringList bills;
    const QStringList below = kestrum::dirContentsRecursive(bundlePath).value_or(QStringList());
    for (const QString &relative : below) {
        if (QFileInfo(relative).suffix() == QLatin1String("bom"))
            bills.append(relative);
    }
    if (bills.size() == 1 && kestrum::fileExists(bundlePath + QLatin1Char('/') + bills.first()))
        return bundlePath + QLatin1Char('/') + bills.first();
    return QString();
}

void addLegacyReceipts(QList<PackageRecord> &result)
{
    const QString folder = PackageHelperNative::kLegacyReceipts;
    const QStringList names = kestrum::dirContents(folder).value_or(QStringList());
    for (const QString &name : names) {
        if (QFileInfo(name).suffix() != QLatin1String("pkg"))
            continue;
        const QString bundlePath = folder + name;
        const QString infoPath = bundlePath + QLatin1String("/Contents/Info.plist");

        bool readable = false;
        const QVariant parsed = readPropertyList(infoPath, &readable);
        if (!readable) {
            // The base system's own bundle comes without one; that is normal.
            if (name != QLatin1String("BSD.pkg"))
                asl_NSLog(LogError, "Error: damaged receipt installed, please remove manually: %@", bundlePath);
            continue;
        }
        if (!parsed.isValid()) {
            asl_NSLog(LogError, "Error: damaged receipt installed, please remove manually: %@", bundlePath);
            continue;
        }
        const QString bomPath = legacyBill(bundlePath, infoPath);
        if (bomPath.isEmpty()) {
            asl_NSLog(LogError, "Error: incomplete receipt installed, please remove manually: %@", bundlePath);
            continue;
        }

        const QVariantMap info = parsed.toMap();
        PackageRecord record;
        record.setValue(PackageKey::BOMPath, bomPath);
        record.setValue(PackageKey::PKGPath, bundlePath);
        record.setValue(PackageKey::PackageFileName, name);
        QVariant identifier = info.value(QStringLiteral("CFBundleIdentifier"));
        if (!identifier.isValid())
            identifier = info.value(QStringLiteral("CFBundleName"));
        record.setValue(PackageKey::PackageIdentifier, identifier.isValid() ? identifier : QVariant(name));
        const QVariant version = info.value(QStringLiteral("CFBundleShortVersionString"));
        if (version.isValid())
            record.setValue(PackageKey::PackageVersion, version);
        result.append(record);
    }
}

} // namespace

QList<PackageRecord> PackageHelperNative::getPackages()
{
    const QString userFolder = platform::Volume::expandTilde(kUserReceipts);
    QList<PackageRecord> result;
    addModernReceipts(entriesWithExtension(kSystemReceipts, QStringLiteral("plist"))
                          + entriesWithExtension(userFolder, QStringLiteral("plist")),
                      userFolder, result);
    addLegacyReceipts(result);
    return result;
}

QString PackageHelperNative::installLocationForPackage(PackageRecord &record)
{
    std::optional<QString> prefix;
    if (const auto receipt = platform::PackageReceipt::openWithBOMPath(record.bomPath())) {
        prefix = receipt->installPrefixPath();
    } else {
        asl_NSLog(LogError, "Error: failed to get PKReceipt for the damaged package, which should be removed: %@",
                  record.description());
        record.setDamaged();
    }

    const QString home = platform::Volume::home();
    if (!prefix)
        return record.hasUserPrefix() ? home + QLatin1Char('/') : QStringLiteral("/");

    QString location = *prefix;
    if (!location.startsWith(QLatin1Char('/')))
        location.prepend(QLatin1Char('/'));
    if (record.hasUserPrefix())
        location = (home == QLatin1String("/") ? QString() : home) + location;
    if (!location.endsWith(QLatin1Char('/')))
        location.append(QLatin1Char('/'));
    return location;
}

QStringList PackageHelperNative::getFilesForPackage(PackageRecord &record, const QString &prefix)
{
    const auto bom = platform::PackageBOM::openWithBOMPath(record.bomPath());
    if (!bom) {
        asl_NSLog(LogError, "Failed to get PKBOM for the damaged package, which should be removed: %@",
                  record.description());
        record.setDamaged();
        return {};
    }
    const std::optional<QStringList> entries = bom->paths();
    if (!entries) {
        asl_NSLog(LogError, "Exception getting PKBOM for the damaged package, which should be removed: %@",
                  record.description());
        return {};
    }
    QStringList files;
    files.reserve(entries->size());
    for (const QString &entry : *entries) {
        // Finder's "Icon\r" files end in a carriage return; the bill keeps it.
        if (entry.endsWith(QLatin1Char('\r')))
            files.append(prefix + entry.chopped(1));
        else
            files.append(prefix + entry);
    }
    return files;
}

} // namespace dorvane
