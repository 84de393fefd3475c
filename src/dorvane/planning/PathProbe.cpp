#include "dorvane/planning/PathProbe.h"

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
        m_folderUtf8.clear();
        m_open = platform::VolumeFolder::opened(*m_volume, m_folder);
    }
    // The door's encoding of names (QFile::encodeName) is UTF-8 on Linux;
    // this one makes no copy of the name first.
    return m_open ? statusOfName(path.name().toUtf8()) : Item{};
}

PathProbe::Item PathProbe::lookClean(QByteArrayView path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0 || path.size() <= 1)
        return look(QString::fromUtf8(path));
    const QByteArrayView folder = slash == 0 ? QByteArrayView("/") : path.first(slash);
    if (folder != m_folderUtf8) {
        const std::optional<platform::LogicalPath> folderPath = m_volume->path(QString::fromUtf8(folder));
        if (!folderPath)
            return Item{};
        m_folder = *folderPath;
        m_entered = true;
        m_folderUtf8 = folder.toByteArray();
        m_open = platform::VolumeFolder::opened(*m_volume, m_folder);
    }
    if (!m_open)
        return Item{};
    // The name's bytes are the file system's: the volume names files in UTF-8.
    m_name.truncate(0);
    m_name.append(path.data() + slash + 1, path.size() - slash - 1);
    return statusOfName(m_name);
}

PathProbe::Item PathProbe::statusOfName(const QByteArray &name) const
{
    const std::optional<platform::ItemStatus> status = m_open->statusOf(name);
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
