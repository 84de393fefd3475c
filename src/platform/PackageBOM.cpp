#include "platform/PackageBOM.h"

#include "platform/ReadLimits.h"
#include "platform/Volume.h"
#include "platform/bom/BomReader.h"

namespace platform {

std::optional<PackageBOM> PackageBOM::openWithBOMPath(const LogicalPath &bomPath, QString *error)
{
    const std::optional<QByteArray> data = Volume::current()->readFile(bomPath, ReadLimit::kBill, error);
    if (!data)
        return std::nullopt;
    auto reader = std::make_shared<const BomReader>(BomReader::fromData(*data));
    if (reader->failedToOpen()) {
        if (error)
            *error = reader->errorString();
        return std::nullopt;
    }
    PackageBOM bom;
    bom.m_reader = std::move(reader);
    return bom;
}

std::optional<QStringList> PackageBOM::paths(QString *error) const
{
    if (!m_reader->isValid()) {
        if (error)
            *error = m_reader->errorString();
        return std::nullopt;
    }
    return m_reader->paths();
}

bool PackageBOM::forEachPath(const std::function<void(QByteArrayView path)> &visit, QString *error) const
{
    if (!m_reader->isValid()) {
        if (error)
            *error = m_reader->errorString();
        return false;
    }
    m_reader->forEachPath(visit);
    return true;
}

qsizetype PackageBOM::pathCount() const
{
    return m_reader->isValid() ? m_reader->count() : 0;
}

quint64 PackageBOM::pathBytes() const
{
    return m_reader->isValid() ? m_reader->pathBytes() : 0;
}

} // namespace platform
