#pragma once

#include "platform/LogicalPath.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace platform {

// What one status call tells about an item.
struct ItemStatus
{
    enum class Type { File, Directory, Link, Other };   // Other: fifo, socket, device
    Type type = Type::Other;
    quint64 size = 0;            // a link's own length; a folder's own entry
    bool immutable = false;      // the stand-in for the Mac's restricted flag
    quint64 device = 0;
    quint64 inode = 0;
    qint64 modifiedMSecs = 0;    // since the epoch
    // When the item was made, since the epoch; the modification time where
    // the file system keeps no birth time.
    qint64 createdMSecs = 0;

    bool isFile() const { return type == Type::File; }
    bool isDirectory() const { return type == Type::Directory; }
    bool isLink() const { return type == Type::Link; }
};

// Whether a final symbolic link is followed. Links before the last
// component are always followed, inside the volume.
enum class Follow { Final, NotFinal };

class VolumeFolder;

// The Mac volume being worked on, and the one door through which the program
// reaches its disk. Every path the program stores, compares, shows or sends
// to the helper is logical ("/Applications/Foo.app"); only this class turns
// it into an item on the disk.
//
// The door holds a descriptor of the volume root and opens every name inside
// it, so a symbolic link resolves as the Mac would resolve it on this volume
// (an absolute target counts from the volume root, ".." stops at it) and
// never leads out of the root, whatever a receipt, a disk or another user
// has put there. Nothing is written, read or listed by joining the root and
// a path as text.
//
// configure() is called once at start-up, before other threads run; every
// other member is safe from any thread. Failures are values: nothing, false
// or an error text, never an exception.
class Volume
{
public:
    // root: the physical folder that stands for "/" (empty means "/").
    // home: the logical home folder that "~" stands for (empty means $HOME).
    // False with *error when the root cannot be opened as a folder.
    static bool configure(const QString &root, const QString &home, QString *error = nullptr);

    static QString root();             // physical, without a trailing slash; "/" for the real disk
    static LogicalPath home();
    static bool isRealRoot();          // true when the volume is the machine's own disk

    // Whether "/etc", "/tmp" or "/var" (the name given) is on this volume a
    // link into "/private", as on every Mac volume; LogicalPath then writes
    // the "/private" form. Learnt once by configure().
    static bool hasPrivateLink(QStringView name);

    // Whether the volume's file system looks names up as the Mac does, so
    // that "/library" opens "/Library". Learnt once by configure(), by
    // looking up a name of the root in another case. Decisions compare paths
    // by their folded form either way (LogicalPath); this only tells users
    // and scripts what kind of volume they work on.
    static bool isCaseInsensitive();

    // "~" and "~/x" become the logical home, the text is cleaned; the text
    // form of LogicalPath::make().
    static QString expandTilde(const QString &text);

    // The physical path of a logical one, joined as text. For showing and for
    // handing to programs outside (a file browser); never for reaching the
    // disk, since the kernel would follow the volume's links out of the root.
    static QString physicalPath(const LogicalPath &path);

    // The logical path of a physical one, or nothing when it lies outside
    // the root.
    static std::optional<LogicalPath> logicalPath(const QString &physical);

    // --- the door ---

    // The item's status. Nothing when it is missing, cannot be reached, or a
    // link loop or over-long path stands in the way.
    static std::optional<ItemStatus> status(const LogicalPath &path, Follow follow);

    // The path with its links resolved inside the volume; a part that does
    // not exist is kept as written. Nothing on a link loop.
    static std::optional<LogicalPath> resolved(const LogicalPath &path, Follow follow = Follow::Final);

    // The whole regular file, when it is one (links followed inside the
    // volume) and not larger than maxBytes. A fifo, socket, device, folder
    // or larger file is refused without being read (and never blocks); the
    // reason goes to *error.
    static std::optional<QByteArray> readFile(const LogicalPath &path, qint64 maxBytes, QString *error = nullptr);

    // Writes the data atomically: a new file in the same folder, then renamed
    // over the name. The folder is reached inside the volume and must exist;
    // a link at the final name is replaced, never written through. False
    // with *error on failure. The new file's mode is `mode` less the umask.
    static bool writeFile(const LogicalPath &path, const QByteArray &data, QString *error = nullptr,
                          unsigned mode = 0644);

    // Makes the folder and the missing ones above it (mode 0755).
    static bool makeFolders(const LogicalPath &path, QString *error = nullptr);

    // Removes the file or empty folder itself (a final link is removed as a
    // link). False when it is not there or cannot be removed.
    static bool removeItem(const LogicalPath &path);

    // Removes the item and, for a folder, everything inside it, without ever
    // following a link: the folders above are reached inside the volume with
    // no link on the way (a path through a link is refused whole), a link
    // met is removed as a link, a subfolder is entered by descriptor and
    // only on the same file system, and one swapped for a link meanwhile is
    // not entered. An item that cannot be removed (an immutable one) is left
    // and reported; the rest still goes. True when nothing is left; the
    // first reason otherwise in *error.
    static bool removeTree(const LogicalPath &path, QString *error = nullptr);

    // Removes each item as removeTree() does, in order, reaching the folder
    // of a run of items in the same folder once. Missing: nothing was there
    // (nor the folder above); the reason comes with a failure.
    struct Removal
    {
        enum Outcome { Removed, Missing, Failed } outcome = Failed;
        QString reason;
    };
    static QList<Removal> removeTrees(const QList<LogicalPath> &paths);

    // Renames the item itself (a final link is renamed as a link) to a new
    // name that may be in another folder of the volume; an item already at
    // the new name is replaced. False when it cannot be renamed.
    static bool renameItem(const LogicalPath &from, const LogicalPath &to);

    // A listening stream socket at the path, for the helper's service: the
    // folder is reached inside the volume, an old socket at the name is
    // replaced, anything else there is refused. Created with mode 0666: who
    // may talk to the service is decided by its peer check, not the mode.
    // The descriptor, or -1 with *error.
    static int listenOnSocket(const LogicalPath &path, QString *error = nullptr);

    // A stream socket connected to the one listening at the path, its
    // folder reached inside the volume; -1 with *error.
    static int connectToSocket(const LogicalPath &path, QString *error = nullptr);

    // The names in a folder (a final link followed inside the volume), in
    // the file system's order; nothing when it cannot be listed.
    static std::optional<QStringList> list(const LogicalPath &folder);
};

// An open folder of the volume, for many questions about its entries with
// one resolution of the folder itself. Entries are never followed: a link
// inside is answered as a link, and opening a child refuses a link.
class VolumeFolder
{
public:
    // The folder at the path, links followed inside the volume; nothing
    // when it is no folder or cannot be opened.
    static std::optional<VolumeFolder> opened(const LogicalPath &path);

    VolumeFolder(VolumeFolder &&other) noexcept;
    VolumeFolder &operator=(VolumeFolder &&other) noexcept;
    ~VolumeFolder();

    std::optional<ItemStatus> statusOf(const QByteArray &name) const;

    // A subfolder, never through a link.
    std::optional<VolumeFolder> openChild(const QByteArray &name) const;

    struct Entry
    {
        QByteArray name;
        bool isDirectory = false;   // a real folder, not a link to one
    };
    // The entries, "." and ".." left out; nothing when they cannot be read,
    // so an unreadable folder is never taken for an empty one.
    std::optional<QList<Entry>> entries() const;

private:
    explicit VolumeFolder(int descriptor) : m_descriptor(descriptor) {}
    int m_descriptor = -1;
};

} // namespace platform
