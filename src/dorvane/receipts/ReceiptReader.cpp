#include "dorvane/receipts/PackageHelperNative.h"

#include "kestrum/Feedback.h"
#include "kestrum/FileSystem.h"
#include "kestrum/Format.h"
#include "kestrum/Log.h"
#include "platform/PackageBOM.h"
#include "platform/PackageReceipt.h"
#include "platform/PropertyList.h"
#include "platform/ReadLimits.h"
#include "platform/Volume.h"

#include <QFileInfo>

namespace dorvane {

using kestrum::asl_NSLog;
using kestrum::LogError;
using kestrum::LogWarning;
using platform::LogicalPath;

namespace {

// The folder's immediate entries with exactly this extension, as absolute
// paths, in the file system's order. A folder that exists but cannot be
// listed contributes nothing, and says so.
QStringList entriesWithExtension(const LogicalPath &folder, const QString &extension)
{
    QStringList result;
    const std::optional<QStringList> names = platform::Volume::current()->list(folder);
    if (!names) {
        if (platform::Volume::current()->status(folder, platform::Follow::Final))
            asl_NSLog(LogWarning, "Warning: cannot read the receipts folder %@", folder.toString());
        return result;
    }
    for (const QString &name : *names) {
        if (QFileInfo(name).suffix() == extension)
            result.append(folder.child(name).toString());
    }
    return result;
}

QVariant readPropertyList(const QString &logicalPath, bool *readable)
{
    QString problem;
    const std::shared_ptr<const platform::Volume> volume = platform::Volume::current();
    const std::optional<LogicalPath> path = volume->path(logicalPath);
    const std::optional<QByteArray> bytes =
        path ? volume->readFile(*path, platform::ReadLimit::kReceipt, &problem) : std::nullopt;
    *readable = bytes.has_value();
    if (!bytes) {
        if (path && volume->status(*path, platform::Follow::Final))
            asl_NSLog(LogError, "Error: cannot read the receipt %@: %@", logicalPath, problem);
        return QVariant();
    }
    return platform::PropertyList::fromData(*bytes);
}

void addModernReceipts(const QStringList &plistPaths, const LogicalPath &userFolder, QList<PackageRecord> &result)
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
        const std::optional<LogicalPath> plist = platform::volumePath(plistPath);
        if (plist && plist->isWithin(userFolder))
            record.setUserPrefix();
        const std::optional<LogicalPath> bill = platform::volumePath(bomPath);
        if (bill && platform::Volume::current()->status(*bill, platform::Follow::Final))
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
    const QString archive = platform::volumePath(infoPath).value_or(LogicalPath()).parent().child(u"Archive.bom").toString();
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
    const LogicalPath folder = platform::Volume::current()->top().child(PackageHelperNative::kLegacyReceipts);
    for (const QString &bundlePath : entriesWithExtension(folder, QStringLiteral("pkg"))) {
        const QString name = bundlePath.section(QLatin1Char('/'), -1);
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
    const std::shared_ptr<const platform::Volume> volume = platform::Volume::current();
    const LogicalPath userFolder = volume->home().child(QStringView(kUserReceipts).mid(2));
    QList<PackageRecord> result;
    addModernReceipts(entriesWithExtension(volume->top().child(kSystemReceipts), QStringLiteral("plist"))
                          + entriesWithExtension(userFolder, QStringLiteral("plist")),
                      userFolder, result);
    addLegacyReceipts(result);
    return result;
}

LogicalPath PackageHelperNative::installLocationForPackage(PackageRecord &record)
{
    std::optional<QString> prefix;
    const std::optional<LogicalPath> bill = platform::volumePath(record.bomPath());
    if (const auto receipt = bill ? platform::PackageReceipt::openWithBOMPath(*bill) : std::nullopt) {
        prefix = receipt->installPrefixPath();
    } else {
        asl_NSLog(LogError, "Error: failed to get PKReceipt for the damaged package, which should be removed: %@",
                  record.description());
        record.setDamaged();
    }

    // The prefix is text from the receipt: "Applications/..", "./" or "//"
    // all become the place they name, and a user package's prefix never
    // leaves the home folder.
    const std::shared_ptr<const platform::Volume> volume = platform::Volume::current();
    const LogicalPath base = record.hasUserPrefix() ? volume->home() : volume->top();
    return prefix ? base.child(*prefix) : base;
}

QStringList PackageHelperNative::getFilesForPackage(PackageRecord &record, const LogicalPath &prefix)
{
    const std::optional<LogicalPath> bill = platform::volumePath(record.bomPath());
    const auto bom = bill ? platform::PackageBOM::openWithBOMPath(*bill) : std::nullopt;
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
        const QStringView name = entry.endsWith(QLatin1Char('\r')) ? QStringView(entry).chopped(1) : QStringView(entry);
        files.append(prefix.child(name).toString());
    }
    return files;
}

} // namespace dorvane
