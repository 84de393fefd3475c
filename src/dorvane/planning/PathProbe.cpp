#include "dorvane/planning/PathProbe.h"

#include <QFile>

namespace dorvane {

PathProbe::Item PathProbe::look(const QString &logical)
{
    if (logical.isEmpty())
        return Item{};
    const platform::LogicalPath path = platform::LogicalPath::make(logical);
    if (path.isRoot()) {
        const std::optional<platform::ItemStatus> root = platform::Volume::status(path, platform::Follow::NotFinal);
        return root ? Item{Item::Kind::Folder, root->size, root->immutable} : Item{};
    }
    const platform::LogicalPath folder = path.parent();
    // Bills list a folder's items together, so most paths reuse the folder
    // of the one before.
    if (folder.toString() != m_folder || m_folder.isEmpty()) {
        m_folder = folder.toString();
        m_open = platform::VolumeFolder::open(folder);
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
