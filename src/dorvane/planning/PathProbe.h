#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

namespace dorvane {

// What the planner asks about each listed path, answered with one status
// call on the item itself, made relative to its folder. The folder is
// resolved inside the volume once and remembered: a bill lists thousands of
// paths in few folders, and resolving every path component by component
// would cost one lstat per component (kestrum::fileAttributes() does that,
// and is seven times slower on a large package). The answers are those of
// kestrum::fileAttributes() and kestrum::fileIsRestricted() on the same path.
//
// One probe serves one planning run on one thread: a folder replaced by a
// link while the run lasts is seen as it was when first asked about, which
// is harmless since the probe only reads.
class PathProbe
{
public:
    PathProbe() = default;
    ~PathProbe();
    PathProbe(const PathProbe &) = delete;
    PathProbe &operator=(const PathProbe &) = delete;

    struct Item
    {
        enum class Kind { Missing, Folder, File, Link };
        Kind kind = Kind::Missing;   // devices and fifos count as files
        quint64 size = 0;            // the item's own size; a link's own length
        // Where the system answered the restricted flag together with the
        // status; otherwise isRestricted() reads it separately.
        std::optional<bool> restricted;
        bool flagsReadable = false;  // a regular file or a folder: the only items with the flag
        // For that separate read: the physical folder and the item's name, or
        // the item's whole physical path with an empty name.
        QString physical;
        QString name;
    };

    // The item itself; a final symbolic link is not followed.
    Item look(const QString &logical);

    // Whether the item carries the restricted flag (System Integrity
    // Protection); false for a missing item and for links.
    static bool isRestricted(const Item &item);

private:
    void enterFolder(QStringView logicalFolder);
    QString physicalFolder(const QString &logicalFolder);

    QHash<QString, QString> m_folders;   // logical folder -> resolved physical folder; empty on a link loop
    QString m_folder;                    // the folder entered last: logical, physical, and open
    QString m_physicalFolder;
    int m_folderDescriptor = -1;         // -1 when it could not be opened
    bool m_folderMissing = false;        // nothing is there: every item inside is missing
};

} // namespace dorvane
