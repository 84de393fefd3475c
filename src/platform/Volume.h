#pragma once

#include "platform/LogicalPath.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace platform {

// What one status call tells about an item.
struct ItemStatus
{
    enum class Type { File, Directory, Link, Other };   // Other: fifo, socket, device
    Type type = Type::Other;
    quint64 size = 0;            // a link's own length; a folder's own entry
    unsigned mode = 0;           // the permission bits, with set-id and sticky bits
    quint32 owner = 0;           // user and group ids
    quint32 group = 0;
    bool immutable = false;      // the stand-in for the Mac's restricted flag
    quint64 device = 0;
    quint64 inode = 0;
    qint64 modifiedMSecs = 0;    // since the epoch
    qint64 changedNSecs = 0;     // the inode's last change (ctime), in nanoseconds since the epoch
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
class AppendOnlyFile;

// The Mac volume being worked on, and the one door through which the program
// reaches its disk. Every path the program stores, compares, shows or sends
// to the helper is logical ("/Applications/Foo.app"); only a volume makes one
// from text (path()), with its own rules: its home folder for "~", and the
// "/private" form of "/etc", "/tmp" and "/var" where they are links there.
//
// The door holds a descriptor of the volume root and opens every name inside
// it, so a symbolic link resolves as the Mac would resolve it on this volume
// (an absolute target counts from the volume root, ".." stops at it) and
// never leads out of the root, whatever a receipt, a disk or another user
// has put there. Nothing is written, read or listed by joining the root and
// a path as text.
//
// A volume is an object: open() makes one, and two can live side by side.
// The process works on the one configure() chose at start-up, current();
// before that, current() is a volume whose door opens nothing, never the
// machine's own disk by default. Every member is safe from any thread.
// Failures are values: nothing, false or an error text, never an exception.
class Volume
{
public:
    // root: the physical folder that stands for "/" (empty means "/").
    // home: the logical home folder that "~" stands for (empty means $HOME).
    // Nothing, with *error, when the root cannot be opened as a folder.
    static std::shared_ptr<const Volume> open(const QString &root, const QString &home, QString *error = nullptr);

    // The process's volume. A caller keeps the pointer for as long as it
    // works on it, so a later configure() never pulls it away.
    static std::shared_ptr<const Volume> current();
    // Opens the volume and makes it the process's; false with *error (and
    // the old one kept) when it cannot be opened.
    static bool configure(const QString &root, const QString &home, QString *error = nullptr);

    Volume(const Volume &) = delete;
    Volume &operator=(const Volume &) = delete;
    ~Volume();

    // --- paths ---

    // The logical path the text names on this volume, cleaned once: "~" and
    // "~/x" are the home folder, a relative text counts from "/". Nothing
    // for an empty text, one holding a NUL, or one that is not valid Unicode:
    // such text names no file, and "/" is never its default.
    std::optional<LogicalPath> path(QStringView text) const;
    // The volume's "/", whose children follow its rules.
    LogicalPath top() const;
    LogicalPath home() const { return m_home; }

    QString root() const { return m_root; }   // physical, without a trailing slash; "/" for the real disk
    bool isRealRoot() const { return m_root == QLatin1String("/"); }

    // Whether the volume's file system looks names up as the Mac does, so
    // that "/library" opens "/Library". Learnt when the volume is opened, by
    // looking up a name of the root in another case. Decisions compare paths
    // by their folded form either way (LogicalPath); this only tells users
    // and scripts what kind of volume they work on.
    bool isCaseInsensitive() const { return m_caseInsensitive; }

    // "~" and "~/x" become the logical home, the text is cleaned; the text
    // form of path(). Empty for text that names no path.
    QString expandTilde(const QString &text) const;

    // The physical path of a logical one, joined as text. For showing and for
    // handing to programs outside (a file browser); never for reaching the
    // disk, since the kernel would follow the volume's links out of the root.
    QString physicalPath(const LogicalPath &path) const;

    // The logical path of a physical one, or nothing when it lies outside
    // the root.
    std::optional<LogicalPath> logicalPath(const QString &physical) const;

    // --- the door ---

    // The item's status. Nothing when it is missing, cannot be reached, or a
    // link loop or over-long path stands in the way.
    std::optional<ItemStatus> status(const LogicalPath &path, Follow follow) const;

    // The path with its links resolved inside the volume; a part that does
    // not exist is kept as written. Nothing on a link loop.
    std::optional<LogicalPath> resolved(const LogicalPath &path, Follow follow = Follow::Final) const;

    // The whole regular file, when it is one (links followed inside the
    // volume) and not larger than maxBytes. A fifo, socket, device, folder
    // or larger file is refused without being read (and never blocks); the
    // reason goes to *error.
    std::optional<QByteArray> readFile(const LogicalPath &path, qint64 maxBytes, QString *error = nullptr) const;

    // Writes the data atomically: a new file in the same folder, then renamed
    // over the name. The folder is reached inside the volume and must exist;
    // a link at the final name is replaced, never written through. False
    // with *error on failure. The new file's mode is `mode` less the umask.
    bool writeFile(const LogicalPath &path, const QByteArray &data, QString *error = nullptr,
                   unsigned mode = 0644) const;

    // Adds the data at the end of the regular file, made when missing (mode
    // `mode` less the umask), without reading what is there. Links are
    // followed inside the volume, as for reading; a fifo, socket, device or
    // folder is refused (and never blocks). False with *error on failure.
    bool appendFile(const LogicalPath &path, const QByteArray &data, QString *error = nullptr,
                    unsigned mode = 0644) const;

    // Makes the folder and the missing ones above it (mode 0755).
    bool makeFolders(const LogicalPath &path, QString *error = nullptr) const;

    // Removes the file or empty folder itself (a final link is removed as a
    // link). False when it is not there or cannot be removed.
    bool removeItem(const LogicalPath &path) const;

    // Removes the item and, for a folder, everything inside it, without ever
    // following a link: the folders above are reached inside the volume with
    // no link on the way (a path through a link is refused whole), a link
    // met is removed as a link, a subfolder is entered by descriptor and
    // only on the same file system, and one swapped for a link meanwhile is
    // not entered. An item that cannot be removed (an immutable one) is left
    // and reported; the rest still goes. True when nothing is left; the
    // first reason otherwise in *error.
    bool removeTree(const LogicalPath &path, QString *error = nullptr) const;

    // Removes each item as removeTree() does, in order, reaching the folder
    // of a run of items in the same folder once. Missing: nothing was there
    // (nor the folder above); the reason and errno come with a failure.
    // With Reach::ItemOnly a folder is refused (EISDIR): only a file or a
    // link goes. A mount point is never entered or emptied (EBUSY), whether
    // it is the item itself or a folder inside it, a bind mount of the same
    // file system included.
    struct Removal
    {
        enum Outcome { Removed, Missing, Failed } outcome = Failed;
        QString reason;
        int error = 0;
    };
    enum class Reach { Whole, ItemOnly };
    QList<Removal> removeTrees(const QList<LogicalPath> &paths, Reach reach = Reach::Whole) const;

    // Removes each folder only when it is empty, or holds nothing but a
    // ".DS_Store" or an "Icon\r" regular file (not both), at the moment of
    // removal: anything put in meanwhile keeps the folder. Reached as
    // removeTrees() reaches items; a link or a mount point is refused.
    QList<Removal> removeEmptyFolders(const QList<LogicalPath> &folders) const;

    // Makes a symbolic link at the path that leads to `target` (written as
    // given); an item already at the name that is no folder is replaced.
    bool makeLink(const LogicalPath &path, const QByteArray &target, QString *error = nullptr) const;

    // --- moving aside (the quarantine) ---

    // Moves each item to its new name with one rename, never over an item
    // already there. The folders on both sides are reached as removeTrees()
    // reaches them: with no link on the way and on the volume's own file
    // system, so a rename never has to copy. With Reach::ItemOnly a folder
    // is refused (EISDIR). With Reach::Whole a folder moves whole, after a
    // walk inside it has found no immutable item and no mount point; one
    // that holds either is refused as `obstructed`, so the caller can move
    // its other entries one by one and leave those where they are. An
    // immutable item or a mount point itself is refused.
    //
    // Items are found in batches. `check` sees each item found, before any
    // item of its batch moves, and keeps it where it is by giving a reason
    // (a caller records it in a journal here, or compares it with what it
    // recorded). `commit` runs once a batch is found, before it moves (a
    // journal is synced): when it fails, none of the batch moves.
    struct Move
    {
        LogicalPath from;
        LogicalPath to;
    };
    struct Moved
    {
        enum Outcome { Done, Missing, Failed } outcome = Failed;
        QString reason;
        int error = 0;
        ItemStatus status;         // the item as found (not followed)
        quint64 bytes = 0;         // its content: a file's size, all the files' in a folder
        bool obstructed = false;   // Failed: a folder holding an immutable item or a mount point
    };
    struct MoveHooks
    {
        std::function<QString(qsizetype index, const Moved &found)> check;
        std::function<bool()> commit;
    };
    QList<Moved> moveItems(const QList<Move> &moves, Reach reach, const MoveHooks &hooks = {}) const;

    // Moves folders' whole content aside, one rename each: a folder that
    // holds exactly the named entries, each a file or a link and none
    // immutable, and is no mount point, moves itself to `to`, and a new
    // empty folder with its mode and owner takes its place, so the tree
    // looks as if each entry had moved. `check` gets each such folder's
    // status and its files' bytes, and `commit` runs once per batch before
    // any of it moves, as with moveItems(). True for each folder moved;
    // false, with nothing moved, for one that holds anything else or cannot
    // be judged: its entries then move one by one.
    struct FolderContents
    {
        LogicalPath folder;
        QSet<QByteArray> names;
        LogicalPath to;
    };
    struct ContentsHooks
    {
        std::function<bool(qsizetype index, const ItemStatus &folder, quint64 bytes)> check;
        std::function<bool()> commit;
    };
    QList<bool> moveFolderContents(const QList<FolderContents> &folders, const ContentsHooks &hooks) const;

    // Makes one folder with this mode, and this owner when one is given,
    // its parent reached with no link on the way. False (EEXIST in *errorNumber)
    // when anything is already at the name.
    struct Owner
    {
        quint32 user = 0;
        quint32 group = 0;
    };
    bool makeFolder(const LogicalPath &path, unsigned mode, std::optional<Owner> owner, QString *error = nullptr,
                    int *errorNumber = nullptr) const;

    // Renames the item itself (a final link is renamed as a link) to a new
    // name that may be in another folder of the volume; an item already at
    // the new name is replaced. False when it cannot be renamed.
    bool renameItem(const LogicalPath &from, const LogicalPath &to) const;

    // A listening stream socket at the path, for the helper's service: the
    // folder is reached inside the volume, an old socket at the name is
    // replaced, anything else there is refused. Created with mode 0666: who
    // may talk to the service is decided by its peer check, not the mode.
    // The descriptor, or -1 with *error.
    int listenOnSocket(const LogicalPath &path, QString *error = nullptr) const;

    // A stream socket connected to the one listening at the path, its
    // folder reached inside the volume; -1 with *error.
    int connectToSocket(const LogicalPath &path, QString *error = nullptr) const;

    // The names in a folder (a final link followed inside the volume), in
    // the file system's order; nothing when it cannot be listed.
    std::optional<QStringList> list(const LogicalPath &folder) const;

    // --- for the platform layer's own system code ---

    // The root as the kernel names it (links resolved), to turn the kernel's
    // answers back into logical paths and to name the volume to the helper.
    QString canonicalRoot() const { return m_canonicalRoot; }
    // A path as the kernel names it (from the machine's "/", links
    // resolved) as a logical path; nothing when it lies outside the root.
    std::optional<LogicalPath> logicalPathOfKernelPath(const QString &kernelPath) const;
    // A descriptor of the item, opened inside the volume with the given open
    // flags, for callers that must act later without resolving a path (a
    // signal handler, a daemon started from a descriptor); -1 on failure.
    // The caller owns it.
    int openDescriptor(const LogicalPath &path, int flags) const;

private:
    Volume() = default;
    friend class VolumeFolder;
    friend class AppendOnlyFile;
    bool openRoot(QString *error);
    QList<Removal> removeEach(const QList<LogicalPath> &paths,
                              const std::function<Removal(int parent, const QByteArray &name)> &remove) const;
    void learnLayout();
    int openInside(const LogicalPath &path, int flags, quint64 resolve = 0, unsigned mode = 0) const;

    int m_descriptor = -1;
    QString m_root = QStringLiteral("/");
    QString m_canonicalRoot = QStringLiteral("/");
    LogicalPath m_home;
    quint8 m_privateLinks = 0;   // LogicalPath::PrivateLink bits
    bool m_caseInsensitive = false;
};

// The path the text names on the process's volume (Volume::path()).
inline std::optional<LogicalPath> volumePath(QStringView text)
{
    return Volume::current()->path(text);
}

// The paths the texts name on the process's volume, in order; a text that
// names no path (an empty one) is left out, since it names no file.
QList<LogicalPath> volumePaths(const QStringList &texts);

// A file of the volume that is only ever added to, for a journal whose
// every line must be on disk before what it records is done: the folder is
// reached with no link on the way, a link at the name is refused, and a new
// file is made with the given mode.
class AppendOnlyFile
{
public:
    static std::optional<AppendOnlyFile> opened(const Volume &volume, const LogicalPath &path, unsigned mode,
                                              QString *error = nullptr);
    AppendOnlyFile(AppendOnlyFile &&other) noexcept;
    AppendOnlyFile &operator=(AppendOnlyFile &&other) noexcept;
    ~AppendOnlyFile();

    // Appends the bytes whole; with `sync`, returns once they are on disk.
    bool append(const QByteArray &data, bool sync);

private:
    explicit AppendOnlyFile(int descriptor) : m_descriptor(descriptor) {}
    int m_descriptor = -1;
};

// An open folder of the volume, for many questions about its entries with
// one resolution of the folder itself. Entries are never followed: a link
// inside is answered as a link, and opening a child refuses a link.
class VolumeFolder
{
public:
    // The folder at the path, links followed inside the volume; nothing
    // when it is no folder or cannot be opened.
    static std::optional<VolumeFolder> opened(const Volume &volume, const LogicalPath &path);

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
