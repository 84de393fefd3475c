#include "dorvane/planning/PathProbe.h"

#include <QFile>

namespace dorvane {

PathProbe::Item PathProbe::look(const QString &logical)
{
    const std::optional<platform::LogicalPath> path = m_volume->path(logical);
    return path ? look(*path) : Item{};
}

PathProbe::Item PathProbe::look(const platform::LogicalPath &path)
{
    if (path.isRoot()) {
        const std::optional<platform::ItemStatus> root = m_volume->status(path, platform::Follow::NotFinal);
        return root ? Item{Item::Kind::Folder, root->size, root->immutable} : Item{};
    }
    // Bills list a folder's items together, so most paths reuse the folder
    // of the one before; that is told without making the folder's path.
    const QStringView text = path.toString();
    const QStringView folderText = text.left(std::max<qsizetype>(text.lastIndexOf(QLatin1Char('/')), 1));
    if (!m_entered || folderText != m_folder.toString()) {
        m_folder = path.parent();
        m_entered = true;
        m_open = platform::VolumeFolder::opened(*m_volume, m_folder);
    }
    if (!m_open)
        return Item{};
    const std::optional<platform::ItemStatus> status = m_open->statusOf(QFile::encodeName(path.name().toString()));
    if (!status)
        return Item{};
    using Type = platform::ItemStatus::Type;
    Item item;
    item.kind = status->type == Type::Directory ? Item::Kind::Folder
                : status->type == Type::Link    ? Item::Kind::Link
                                                : Item::Kind::File;
    item.size = status->size;
    item.restricted = status->immutable;
    return item;
}

} // namespace dorvane
