#include "dorvane/planning/PathProbe.h"

#include <algorithm>

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
    Folder *folder = recent([&](const Folder &f) { return f.path.toString() == folderText; });
    if (!folder)
        folder = &opened(path.parent(), {});
    // The door's encoding of names (QFile::encodeName) is UTF-8 on Linux;
    // this one makes no copy of the name first.
    return folder->open ? statusOfName(*folder, path.name().toUtf8()) : Item{};
}

PathProbe::Item PathProbe::lookClean(QByteArrayView path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0 || path.size() <= 1)
        return look(QString::fromUtf8(path));
    const QByteArrayView folderBytes = slash == 0 ? QByteArrayView("/") : path.first(slash);
    Folder *folder = recent([&](const Folder &f) { return f.utf8 == folderBytes; });
    if (!folder) {
        std::optional<platform::LogicalPath> folderPath = m_volume->path(QString::fromUtf8(folderBytes));
        if (!folderPath)
            return Item{};
        folder = &opened(std::move(*folderPath), folderBytes.toByteArray());
    }
    if (!folder->open)
        return Item{};
    // The name's bytes are the file system's: the volume names files in UTF-8.
    m_name.truncate(0);
    m_name.append(path.data() + slash + 1, path.size() - slash - 1);
    return statusOfName(*folder, m_name);
}

// The kept folder that matches, moved to the front.
template <typename Matches>
PathProbe::Folder *PathProbe::recent(Matches &&matches)
{
    const auto found = std::find_if(m_folders.begin(), m_folders.end(), matches);
    if (found == m_folders.end())
        return nullptr;
    std::rotate(m_folders.begin(), found, found + 1);
    return &m_folders.front();
}

PathProbe::Folder &PathProbe::opened(platform::LogicalPath path, QByteArray utf8)
{
    if (m_folders.size() == kFoldersKept)
        m_folders.pop_back();   // its descriptor is closed
    std::optional<platform::VolumeFolder> open = platform::VolumeFolder::opened(*m_volume, path);
    m_folders.insert(m_folders.begin(), Folder{std::move(path), std::move(utf8), std::move(open)});
    return m_folders.front();
}

PathProbe::Item PathProbe::statusOfName(const Folder &folder, const QByteArray &name) const
{
    const std::optional<platform::ItemStatus> status = folder.open->statusOf(name);
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
