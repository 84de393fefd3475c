#pragma once

#include "platform/Volume.h"

#include <QString>

#include <optional>
#include <vector>

namespace dorvane {

// What the planner asks about each listed path, answered with one status
// call on the item itself, relative to its folder. The folder is opened
// inside the volume once and kept open, with the last few before it: a bill
// lists thousands of paths in few folders, so most questions cost one
// statx. The answers are those of the volume door (platform::Volume::status
// without following a final link) on the same path.
//
// One probe serves one thread (the planner gives each stretch of paths its
// own): a folder replaced by a link while the run lasts is seen as it was
// when it was opened, which is harmless since the probe only reads.
class PathProbe
{
public:
    explicit PathProbe(std::shared_ptr<const platform::Volume> volume = platform::Volume::current())
        : m_volume(std::move(volume))
    {
    }

    struct Item
    {
        enum class Kind { Missing, Folder, File, Link };
        Kind kind = Kind::Missing;   // devices and fifos count as files
        quint64 size = 0;            // the item's own size; a link's own length
        bool restricted = false;     // the restricted flag (System Integrity Protection)
    };

    // The item itself; a final symbolic link is not followed.
    Item look(const QString &logical);
    Item look(const platform::LogicalPath &path);
    // A path as the catalogue stores it, already clean and logical, in UTF-8:
    // asked with no string made for it, only one for each new folder.
    Item lookClean(QByteArrayView path);

    static bool isRestricted(const Item &item) { return item.restricted; }

private:
    struct Folder
    {
        platform::LogicalPath path;
        QByteArray utf8;                              // its bytes when lookClean() opened it (never empty then); else empty
        std::optional<platform::VolumeFolder> open;   // nothing when it is missing or unreachable
    };
    // A bill lists a folder's items around those of its subfolders, so a
    // probe comes back to a folder a few folders later: the last few stay
    // open, the newest first.
    static constexpr size_t kFoldersKept = 8;
    template <typename Matches>
    Folder *recent(Matches &&matches);
    Folder &opened(platform::LogicalPath path, QByteArray utf8);
    Item statusOfName(const Folder &folder, const QByteArray &name) const;

    std::shared_ptr<const platform::Volume> m_volume;
    std::vector<Folder> m_folders;
    QByteArray m_name;   // the name asked last, kept to reuse its buffer
};

} // namespace dorvane
