#include "platform/PackageBOM.h"

#include "platform/Volume.h"
#include "platform/bom/BomReader.h"

#include <QFile>

namespace platform {

std::optional<PackageBOM> PackageBOM::openWithBOMPath(const QString &bomPath)
{
    const QString physical = Volume::resolvedPhysicalPath(bomPath, true);
    QFile file(physical);
    if (physical.isEmpty() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (file.read(8) != QByteArrayLiteral("BOMStore"))
        return std::nullopt;
    PackageBOM bom;
    bom.m_physicalPath = physical;
    return bom;
}

std::optional<QStringList> PackageBOM::paths(QString *error) const
{
    const BomReader reader = BomReader::open(m_physicalPath);
    if (!reader.isValid()) {
        if (error)
            *error = reader.errorString();
        return std::nullopt;
    }
    return reader.paths();
}

} // namespace platform
