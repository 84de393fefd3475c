#include "platform/PackageReceipt.h"

#include "platform/PropertyList.h"
#include "platform/ReadLimits.h"
#include "platform/Volume.h"

#include <QFileInfo>

namespace platform {

namespace {

std::optional<QString> textValue(const QVariantMap &map, const QString &key)
{
    const QVariant v = map.value(key);
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    return v.toString();
}

// The legacy bundle that holds the bill: the nearest folder above it whose
// name ends in ".pkg".
std::optional<LogicalPath> enclosingBundle(const LogicalPath &bomPath)
{
    for (LogicalPath folder = bomPath.parent(); !folder.isRoot(); folder = folder.parent()) {
        if (folder.name().endsWith(u".pkg"))
            return folder;
    }
    return std::nullopt;
}

} // namespace

std::optional<PackageReceipt> PackageReceipt::openWithBOMPath(const LogicalPath &bomPath)
{
    if (bomPath.name().endsWith(u".bom")) {
        const LogicalPath plistPath = bomPath.parent().child(bomPath.name().chopped(4).toString() + QLatin1String(".plist"));
        if (const auto receipt = PropertyList::readDictionary(plistPath, ReadLimit::kReceipt)) {
            PackageReceipt result;
            result.m_prefix = textValue(*receipt, QStringLiteral("InstallPrefixPath"));
            return result;
        }
    }
    const std::optional<LogicalPath> bundle = enclosingBundle(bomPath);
    if (!bundle)
        return std::nullopt;
    const auto info = PropertyList::readDictionary(bundle->child(u"Contents/Info.plist"), ReadLimit::kInfoPlist);
    if (!info)
        return std::nullopt;
    PackageReceipt result;
    result.m_prefix = textValue(*info, QStringLiteral("IFPkgRelocatedPath"));
    if (!result.m_prefix)
        result.m_prefix = textValue(*info, QStringLiteral("IFPkgFlagDefaultLocation"));
    return result;
}

} // namespace platform
