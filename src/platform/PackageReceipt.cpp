#include "platform/PackageReceipt.h"

#include "platform/PropertyList.h"
#include "platform/Volume.h"

#include <QFileInfo>

namespace platform {

namespace {

std::optional<QVariantMap> readDictionary(const QString &logicalPath)
{
    const QVariant value = PropertyList::readFile(Volume::resolvedPhysicalPath(logicalPath, true));
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return value.toMap();
}

std::optional<QString> textValue(const QVariantMap &map, const QString &key)
{
    const QVariant v = map.value(key);
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    return v.toString();
}

// The legacy bundle that holds the bill: the nearest folder above it whose
// name ends in ".pkg".
QString enclosingBundle(const QString &bomPath)
{
    QString folder = bomPath.section(QLatin1Char('/'), 0, -2);
    while (!folder.isEmpty()) {
        if (folder.endsWith(QLatin1String(".pkg")))
            return folder;
        folder = folder.section(QLatin1Char('/'), 0, -2);
    }
    return QString();
}

} // namespace

std::optional<PackageReceipt> PackageReceipt::openWithBOMPath(const QString &bomPath)
{
    if (bomPath.endsWith(QLatin1String(".bom"))) {
        const QString plistPath = bomPath.chopped(4) + QLatin1String(".plist");
        if (const auto receipt = readDictionary(plistPath)) {
            PackageReceipt result;
            result.m_prefix = textValue(*receipt, QStringLiteral("InstallPrefixPath"));
            return result;
        }
    }
    const QString bundle = enclosingBundle(bomPath);
    if (bundle.isEmpty())
        return std::nullopt;
    const auto info = readDictionary(bundle + QLatin1String("/Contents/Info.plist"));
    if (!info)
        return std::nullopt;
    PackageReceipt result;
    result.m_prefix = textValue(*info, QStringLiteral("IFPkgRelocatedPath"));
    if (!result.m_prefix)
        result.m_prefix = textValue(*info, QStringLiteral("IFPkgFlagDefaultLocation"));
    return result;
}

} // namespace platform
