// The volume door on Linux: every name is opened with openat2() and
// RESOLVE_IN_ROOT below the descriptor of the volume root, so the kernel
// itself resolves links inside the volume and never out of it.

#include "platform/Volume.h"

#include <QFile>
#include <QHash>
#include <QRandomGenerator>

#include <atomic>
#include <cstdio>
#include <vector>
#include <functional>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    Descriptor(Descriptor &&o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
    Descriptor &operator=(Descriptor &&o) noexcept
    {
        std::swap(m_fd, o.m_fd);
        return *this;
    }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }

private:
    int m_fd;
};

QString errorText(int error)
{
    if (error == ELOOP)
        return QStringLiteral("too many levels of symbolic links");
    return QString::fromLocal8Bit(std::strerror(error));
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// A name as a C string; nothing when it holds a NUL, which the kernel
// would take for its end and so reach another item.
std::optional<QByteArray> cName(QStringView name)
{
    if (name.contains(QChar(0)))
        return std::nullopt;
    return QFile::encodeName(name.toString());
}

ItemStatus::Type typeOf(unsigned mode)
{
    return S_ISREG(mode) ? ItemStatus::Type::File
           : S_ISDIR(mode) ? ItemStatus::Type::Directory
           : S_ISLNK(mode) ? ItemStatus::Type::Link
                           : ItemStatus::Type::Other;
}

// The status of `name` relative to the descriptor (the descriptor itself for
// an empty name), never following a link. The immutable flag comes with the
// status, so a protected item is recognised without being opened, even when
// the user may not read it.
std::optional<ItemStatus> statusAt(int folder, const char *name)
{
    struct statx st;
    const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (*name ? 0 : AT_EMPTY_PATH);
    constexpr unsigned kMask = STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID | STATX_SIZE | STATX_INO | STATX_MTIME
                               | STATX_CTIME | STATX_BTIME;
    if (::statx(folder, name, flags, kMask, &st) != 0)
        return std::nullopt;
    ItemStatus status;
    status.type = typeOf(st.stx_mode);
    status.size = st.stx_size;
    status.mode = st.stx_mode & 07777;
    status.owner = st.stx_uid;
    status.group = st.stx_gid;
    status.immutable = (st.stx_attributes_mask & STATX_ATTR_IMMUTABLE) && (st.stx_attributes & STATX_ATTR_IMMUTABLE);
    status.device = (quint64(st.stx_dev_major) << 32) | st.stx_dev_minor;
    status.inode = st.stx_ino;
    status.modifiedMSecs = qint64(st.stx_mtime.tv_sec) * 1000 + st.stx_mtime.tv_nsec / 1000000;
    status.changedNSecs = qint64(st.stx_ctime.tv_sec) * 1000000000 + st.stx_ctime.tv_nsec;
    // Not every file system keeps a birth time (older ext3, some network ones).
    status.createdMSecs = (st.stx_mask & STATX_BTIME)
                              ? qint64(st.stx_btime.tv_sec) * 1000 + st.stx_btime.tv_nsec / 1000000
                              : status.modifiedMSecs;
    return status;
}

// Where the kernel says an open descriptor is, as a logical path.
std::optional<LogicalPath> logicalOfDescriptor(const Volume &volume, int fd)
{
    char buffer[PATH_MAX + 1];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t n = ::readlink(link.constData(), buffer, PATH_MAX);
    if (n <= 0)
        return std::nullopt;
    // Never outside the root with RESOLVE_IN_ROOT.
    return volume.logicalPathOfKernelPath(QFile::decodeName(QByteArray(buffer, n)));
}

// Reopens an O_PATH descriptor for reading, through the descriptor itself:
// the item checked is the item opened, with no second lookup by name.
int reopen(int pathDescriptor, int flags)
{
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(pathDescriptor);
    return ::open(link.constData(), flags | O_CLOEXEC);
}

bool readAll(int fd, qint64 maxBytes, QByteArray &out, QString *error)
{
    out.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            setError(error, errorText(errno));
            return false;
        }
        if (n == 0)
            return true;
        if (out.size() + n > maxBytes) {
            setError(error, QStringLiteral("larger than %1 bytes").arg(maxBytes));
            return false;
        }
        out.append(buffer, n);
    }
}

bool writeAll(int fd, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += n;
    }
    return true;
}

std::optional<QList<VolumeFolder::Entry>> readEntries(int folder)
{
    const int fd = reopen(folder, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return std::nullopt;
    }
    QList<VolumeFolder::Entry> entries;
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            const std::optional<ItemStatus> status = statusAt(folder, name);
            isDirectory = status && status->isDirectory();
        }
        entries.append({QByteArray(name), isDirectory});
        errno = 0;
    }
    const bool failed = errno != 0;
    ::closedir(dir);
    if (failed)
        return std::nullopt;
    return entries;
}

} // namespace

// --- the root ---

bool Volume::openRoot(QString *error)
{
    const int fd = ::open(QFile::encodeName(m_root).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        setError(error, QStringLiteral("cannot open the volume root %1: %2").arg(m_root, errorText(errno)));
        return false;
    }
    char buffer[PATH_MAX + 1];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t n = ::readlink(link.constData(), buffer, PATH_MAX);
    m_canonicalRoot = n > 0 ? QFile::decodeName(QByteArray(buffer, n)) : m_root;
    m_descriptor = fd;
    return true;
}

Volume::~Volume()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

// Opens the path inside the volume. Never crosses into /proc's magic links,
// and retries the rare EAGAIN that a rename racing the lookup gives. A
// volume that was never opened opens nothing.
int Volume::openInside(const LogicalPath &path, int flags, quint64 resolve, unsigned mode) const
{
    const std::optional<QByteArray> name = path.isRoot() ? std::optional(QByteArrayLiteral(".")) : cName(path.toString());
    if (m_descriptor < 0 || !name) {
        errno = m_descriptor < 0 ? EBADF : EINVAL;
        return -1;
    }
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = quint64(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) ? mode : 0;   // the kernel refuses a mode without O_CREAT
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS | resolve;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const long fd = ::syscall(SYS_openat2, m_descriptor, name->constData(), &how, sizeof how);
        if (fd >= 0 || errno != EAGAIN)
            return int(fd);
    }
    return -1;
}

int Volume::openDescriptor(const LogicalPath &path, int flags) const
{
    return openInside(path, flags);
}

// --- the door ---

std::optional<ItemStatus> Volume::status(const LogicalPath &path, Follow follow) const
{
    const Descriptor fd(openInside(path, O_PATH | (follow == Follow::NotFinal ? O_NOFOLLOW : 0)));
    if (!fd.isValid())
        return std::nullopt;
    return statusAt(fd.get(), "");
}

std::optional<LogicalPath> Volume::resolved(const LogicalPath &path, Follow follow) const
{
    if (follow == Follow::NotFinal && !path.isRoot()) {
        const std::optional<LogicalPath> folder = resolved(path.parent(), Follow::Final);
        return folder ? std::optional<LogicalPath>(folder->child(path.name())) : std::nullopt;
    }
    const Descriptor fd(openInside(path, O_PATH));
    if (fd.isValid())
        return logicalOfDescriptor(*this, fd.get());
    if (errno != ENOENT && errno != ENOTDIR)
        return std::nullopt; // a loop, or a name too long
    if (path.isRoot())
        return path;
    // The missing part is kept as written.
    const std::optional<LogicalPath> folder = resolved(path.parent(), Follow::Final);
    return folder ? std::optional<LogicalPath>(folder->child(path.name())) : std::nullopt;
}

std::optional<QByteArray> Volume::readFile(const LogicalPath &path, qint64 maxBytes, QString *error) const
{
    const Descriptor at(openInside(path, O_PATH));
    if (!at.isValid()) {
        setError(error, errorText(errno));
        return std::nullopt;
    }
    const std::optional<ItemStatus> status = statusAt(at.get(), "");
    if (!status || !status->isFile()) {
        setError(error, QStringLiteral("not a regular file"));
        return std::nullopt;
    }
    if (qint64(status->size) > maxBytes) {
        setError(error, QStringLiteral("larger than %1 bytes").arg(maxBytes));
        return std::nullopt;
    }
    const Descriptor fd(reopen(at.get(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (!fd.isValid()) {
        setError(error, errorText(errno));
        return std::nullopt;
    }
    QByteArray data;
    data.reserve(qsizetype(status->size));
    if (!readAll(fd.get(), maxBytes, data, error))
        return std::nullopt;
    return data;
}

bool Volume::makeFolders(const LogicalPath &path, QString *error) const
{
    const std::optional<ItemStatus> existing = status(path, Follow::Final);
    if (existing)
        return existing->isDirectory() || (setError(error, QStringLiteral("not a folder")), false);
    if (path.isRoot())
        return false;
    if (!makeFolders(path.parent(), error))
        return false;
    const Descriptor parent(openInside(path.parent(), O_PATH | O_DIRECTORY));
    const QByteArray name = cName(path.name()).value_or(QByteArray());
    if (!parent.isValid() || (::mkdirat(parent.get(), name.constData(), 0755) != 0 && errno != EEXIST)) {
        setError(error, errorText(errno));
        return false;
    }
    return true;
}

bool Volume::writeFile(const LogicalPath &path, const QByteArray &data, QString *error, unsigned mode) const
{
    if (path.isRoot())
        return false;
    const Descriptor folder(openInside(path.parent(), O_PATH | O_DIRECTORY));
    if (!folder.isValid()) {
        setError(error, errorText(errno));
        return false;
    }
    const QByteArray name = cName(path.name()).value_or(QByteArray());
    QByteArray temporary;
    Descriptor fd;
    for (int attempt = 0; attempt < 16 && !fd.isValid(); ++attempt) {
        temporary = "." + name + "." + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = Descriptor(::openat(folder.get(), temporary.constData(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(mode)));
        if (!fd.isValid() && errno != EEXIST)
            break;
    }
    if (!fd.isValid()) {
        setError(error, errorText(errno));
        return false;
    }
    const bool written = writeAll(fd.get(), data);
    const int writeError = errno;
    fd = Descriptor(); // closed before the rename
    if (!written || ::renameat(folder.get(), temporary.constData(), folder.get(), name.constData()) != 0) {
        setError(error, errorText(written ? errno : writeError));
        ::unlinkat(folder.get(), temporary.constData(), 0);
        return false;
    }
    return true;
}

bool Volume::appendFile(const LogicalPath &path, const QByteArray &data, QString *error, unsigned mode) const
{
    if (path.isRoot())
        return false;
    // Judged before it is opened for writing, as readFile() does, so that a
    // device is never opened; a new file is made only where nothing is.
    const Descriptor at(openInside(path, O_PATH));
    const std::optional<ItemStatus> status = at.isValid() ? statusAt(at.get(), "") : std::nullopt;
    if (at.isValid() && !(status && status->isFile())) {
        setError(error, QStringLiteral("not a regular file"));
        return false;
    }
    const Descriptor fd(at.isValid() ? reopen(at.get(), O_WRONLY | O_APPEND | O_NOCTTY)
                        : errno == ENOENT ? openInside(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOCTTY, 0, mode)
                                          : -1);
    if (!fd.isValid() || !writeAll(fd.get(), data)) {
        setError(error, errorText(errno));
        return false;
    }
    return true;
}

bool Volume::removeItem(const LogicalPath &path) const
{
    if (path.isRoot())
        return false;
    const Descriptor folder(openInside(path.parent(), O_PATH | O_DIRECTORY));
    if (!folder.isValid())
        return false;
    const QByteArray name = cName(path.name()).value_or(QByteArray());
    if (::unlinkat(folder.get(), name.constData(), 0) == 0)
        return true;
    return errno == EISDIR && ::unlinkat(folder.get(), name.constData(), AT_REMOVEDIR) == 0;
}

// The folders above an item to remove or move are reached with no link on
// the way and on one file system: a path through a link is refused whole.
constexpr quint64 kRemovalResolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_XDEV;

namespace {

// The mount under a descriptor, and whether it is the root of a mount: a
// folder where another file system (or a bind mount of this one) begins.
struct MountOf
{
    quint64 id = 0;
    bool isRoot = false;
};

std::optional<MountOf> mountOf(int fd)
{
    struct statx st;
    if (::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_MNT_ID, &st) != 0)
        return std::nullopt;
    MountOf mount;
    mount.id = (st.stx_mask & STATX_MNT_ID) ? st.stx_mnt_id : 0;
    mount.isRoot = (st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (st.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return mount;
}

// Whether the opened folder lies on the given mount and is no mount point.
bool onMount(int fd, quint64 mountId)
{
    const std::optional<MountOf> mount = mountOf(fd);
    return mount && !mount->isRoot && mount->id == mountId;
}

const QString kMountPoint = QStringLiteral("a file system is mounted there: nothing on it is removed");

void keepFirst(QString &failure, const QString &reason)
{
    if (failure.isEmpty())
        failure = reason;
}

// Removes the entries of an open folder, depth first, by descriptor. A
// subfolder is opened without following a link and judged by the
// descriptor opened, so one swapped meanwhile is judged as it is; a mount
// point inside is never entered. Keeps the first failure's reason and goes
// on with the rest.
void removeEntries(int folder, quint64 mountId, int depth, QString &failure)
{
    constexpr int kMaxDepth = 512;   // a descriptor is held per level
    const int fd = reopen(folder, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    DIR *dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        keepFirst(failure, errorText(errno));
        return;
    }
    QList<QByteArray> names;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        // A file or link goes by unlinkat() alone, which never follows a
        // link and never removes a folder: one swapped in meanwhile fails
        // with EISDIR and is opened below like any other folder.
        if ((entry->d_type == DT_REG || entry->d_type == DT_LNK) && ::unlinkat(folder, name, 0) == 0)
            continue;
        names.append(QByteArray(name));
    }
    ::closedir(dir);
    for (const QByteArray &name : std::as_const(names)) {
        const Descriptor child(::openat(folder, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!child.isValid())
            continue; // gone meanwhile
        const std::optional<ItemStatus> status = statusAt(child.get(), "");
        const bool isFolder = status && status->isDirectory();
        if (isFolder) {
            if (!onMount(child.get(), mountId)) {
                keepFirst(failure, kMountPoint);
                continue;
            }
            if (depth >= kMaxDepth) {
                keepFirst(failure, QStringLiteral("folders nested too deep"));
                continue;
            }
            removeEntries(child.get(), mountId, depth + 1, failure);
        }
        if (::unlinkat(folder, name.constData(), isFolder ? AT_REMOVEDIR : 0) != 0)
            keepFirst(failure, QStringLiteral("%1: %2").arg(QFile::decodeName(name), errorText(errno)));
    }
}

// The named item of an open folder, opened without following a link and
// judged by that descriptor. `answer` is what to give back at once: a
// failure, or Missing when nothing is there.
struct OpenedItem
{
    Descriptor fd;
    bool isFolder = false;
    std::optional<Volume::Removal> answer;
};

OpenedItem openItem(int parent, const QByteArray &name)
{
    OpenedItem item{Descriptor(::openat(parent, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC)), false, {}};
    if (!item.fd.isValid()) {
        item.answer = errno == ENOENT ? Volume::Removal{Volume::Removal::Missing, QString(), 0}
                                      : Volume::Removal{Volume::Removal::Failed, errorText(errno), errno};
        return item;
    }
    const std::optional<ItemStatus> status = statusAt(item.fd.get(), "");
    item.isFolder = status && status->isDirectory();
    // A mount point is never entered or emptied.
    const std::optional<MountOf> parentMount = item.isFolder ? mountOf(parent) : std::nullopt;
    if (item.isFolder && (!parentMount || !onMount(item.fd.get(), parentMount->id)))
        item.answer = Volume::Removal{Volume::Removal::Failed, kMountPoint, EBUSY};
    return item;
}

// Removes the named item of an open folder: a folder with all inside it
// when `whole`, else only a file or link.
Volume::Removal removeNamed(int parent, const QByteArray &name, bool whole)
{
    // A file or link by itself: unlinkat() never follows a link and never
    // removes a folder, so nothing needs to be opened first.
    if (!whole) {
        if (::unlinkat(parent, name.constData(), 0) == 0)
            return {Volume::Removal::Removed, QString(), 0};
        if (errno == ENOENT)
            return {Volume::Removal::Missing, QString(), 0};
        if (errno == EISDIR)
            return {Volume::Removal::Failed, QStringLiteral("a folder: it goes only as an empty folder, on its own request"),
                    EISDIR};
        return {Volume::Removal::Failed, errorText(errno), errno};
    }
    const OpenedItem item = openItem(parent, name);
    if (item.answer)
        return *item.answer;
    QString failure;
    if (item.isFolder)
        removeEntries(item.fd.get(), mountOf(parent)->id, 0, failure);
    if (::unlinkat(parent, name.constData(), item.isFolder ? AT_REMOVEDIR : 0) != 0 && failure.isEmpty())
        return {Volume::Removal::Failed, errorText(errno), errno};
    if (!failure.isEmpty())
        return {Volume::Removal::Failed, failure, 0};
    return {Volume::Removal::Removed, QString(), 0};
}

// What an otherwise empty folder may still hold and go: the Finder's view
// settings or its custom-icon file, as a regular file, but not both.
bool isFinderLeftover(int folder, const QByteArray &name)
{
    if (name != ".DS_Store" && name != "Icon\r")
        return false;
    struct stat st;
    return ::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

Volume::Removal removeEmptyNamed(int parent, const QByteArray &name)
{
    const OpenedItem item = openItem(parent, name);
    if (item.answer)
        return *item.answer;
    if (!item.isFolder)
        return {Volume::Removal::Failed, QStringLiteral("not a folder"), ENOTDIR};
    const std::optional<QList<VolumeFolder::Entry>> entries = readEntries(item.fd.get());
    if (!entries)
        return {Volume::Removal::Failed, errorText(errno), errno};
    const QString notEmpty = QStringLiteral("the folder is not empty");
    if (entries->size() > 1 || (entries->size() == 1 && !isFinderLeftover(item.fd.get(), entries->first().name)))
        return {Volume::Removal::Failed, notEmpty, ENOTEMPTY};
    if (entries->size() == 1 && ::unlinkat(item.fd.get(), entries->first().name.constData(), 0) != 0 && errno != ENOENT)
        return {Volume::Removal::Failed, errorText(errno), errno};
    // Anything put in meanwhile keeps the folder, and stays with it.
    if (::unlinkat(parent, name.constData(), AT_REMOVEDIR) != 0)
        return {Volume::Removal::Failed, errno == ENOTEMPTY ? notEmpty : errorText(errno), errno};
    return {Volume::Removal::Removed, QString(), 0};
}

} // namespace

bool Volume::removeTree(const LogicalPath &path, QString *error) const
{
    const Removal removal = removeTrees({path}).value(0);
    if (removal.outcome == Removal::Missing)
        setError(error, errorText(ENOENT));
    else
        setError(error, removal.reason);
    return removal.outcome == Removal::Removed;
}

QList<Volume::Removal> Volume::removeTrees(const QList<LogicalPath> &paths, Reach reach) const
{
    return removeEach(paths, [reach](int parent, const QByteArray &name) {
        return removeNamed(parent, name, reach == Reach::Whole);
    });
}

QList<Volume::Removal> Volume::removeEmptyFolders(const QList<LogicalPath> &folders) const
{
    return removeEach(folders, removeEmptyNamed);
}

QList<Volume::Removal> Volume::removeEach(const QList<LogicalPath> &paths,
                                         const std::function<Removal(int parent, const QByteArray &name)> &remove) const
{
    QList<Removal> results;
    results.reserve(paths.size());
    // A package's files come folder by folder: the folder is reached once
    // for a run of its items, not once per item.
    LogicalPath openFolder;
    Descriptor parent;
    int parentError = 0;
    bool opened = false;
    for (const LogicalPath &path : paths) {
        const std::optional<QByteArray> name = cName(path.name());
        if (path.isRoot() || !name) {
            results.append({Removal::Failed, QStringLiteral("the volume's root is never removed"), EINVAL});
            continue;
        }
        if (!opened || !path.isChildOf(openFolder)) {
            opened = true;
            openFolder = path.parent();
            parent = Descriptor(openInside(openFolder, O_PATH | O_DIRECTORY, kRemovalResolve));
            parentError = parent.isValid() ? 0 : errno;
        }
        if (!parent.isValid()) {
            results.append(parentError == ENOENT ? Removal{Removal::Missing, QString(), 0}
                                                 : Removal{Removal::Failed, errorText(parentError), parentError});
            continue;
        }
        results.append(remove(parent.get(), *name));
    }
    return results;
}

bool Volume::makeLink(const LogicalPath &path, const QByteArray &target, QString *error) const
{
    const std::optional<QByteArray> name = cName(path.name());
    const Descriptor folder(path.isRoot() || !name ? -1 : openInside(path.parent(), O_PATH | O_DIRECTORY));
    if (!folder.isValid()) {
        setError(error, errorText(name ? errno : EINVAL));
        return false;
    }
    ::unlinkat(folder.get(), name->constData(), 0);
    if (::symlinkat(target.constData(), folder.get(), name->constData()) != 0) {
        setError(error, errorText(errno));
        return false;
    }
    return true;
}

bool Volume::renameItem(const LogicalPath &from, const LogicalPath &to) const
{
    if (from.isRoot() || to.isRoot())
        return false;
    const Descriptor fromFolder(openInside(from.parent(), O_PATH | O_DIRECTORY));
    const Descriptor toFolder(openInside(to.parent(), O_PATH | O_DIRECTORY));
    if (!fromFolder.isValid() || !toFolder.isValid())
        return false;
    const std::optional<QByteArray> fromName = cName(from.name());
    const std::optional<QByteArray> toName = cName(to.name());
    return fromName && toName && ::renameat(fromFolder.get(), fromName->constData(), toFolder.get(), toName->constData()) == 0;
}

namespace {

// What a walk through a folder found: its files' bytes, and the first item
// that keeps it from moving whole (an immutable item, a mount point, a
// folder that cannot be read).
struct TreeSurvey
{
    quint64 bytes = 0;
    QString obstacle;
    int error = 0;
};

void surveyEntries(int folder, quint64 mountId, int depth, TreeSurvey &survey)
{
    constexpr int kMaxDepth = 512;
    const std::optional<QList<VolumeFolder::Entry>> entries = readEntries(folder);
    if (!entries) {
        survey.obstacle = errorText(errno);
        survey.error = errno;
        return;
    }
    for (const VolumeFolder::Entry &entry : *entries) {
        const std::optional<ItemStatus> status = statusAt(folder, entry.name.constData());
        if (!status)
            continue; // gone meanwhile
        if (status->immutable) {
            survey.obstacle = QStringLiteral("%1: the item is immutable").arg(QFile::decodeName(entry.name));
            survey.error = EPERM;
            return;
        }
        if (!status->isDirectory()) {
            survey.bytes += status->isFile() ? status->size : 0;
            continue;
        }
        const Descriptor child(::openat(folder, entry.name.constData(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
        if (!child.isValid() || !onMount(child.get(), mountId) || depth >= kMaxDepth) {
            survey.obstacle = child.isValid() ? kMountPoint : errorText(errno);
            survey.error = child.isValid() ? EBUSY : errno;
            return;
        }
        surveyEntries(child.get(), mountId, depth + 1, survey);
        if (!survey.obstacle.isEmpty())
            return;
    }
}

// The folders of one batch of moves, each opened once.
class BatchFolders
{
public:
    explicit BatchFolders(std::function<int(const LogicalPath &)> open) : m_open(std::move(open)) {}
    // The slot of the folder's descriptor, or -1 with *error.
    int slotOf(const LogicalPath &folder, int *error)
    {
        const auto found = m_slots.constFind(folder);
        const int slot = found != m_slots.cend() ? *found : int(m_descriptors.size());
        if (found == m_slots.cend()) {
            const int fd = m_open(folder);
            m_errors.push_back(fd < 0 ? errno : 0);
            m_descriptors.emplace_back(fd);
            m_slots.insert(folder, slot);
        }
        *error = m_errors[size_t(slot)];
        return m_descriptors[size_t(slot)].isValid() ? slot : -1;
    }
    int descriptor(int slot) const { return m_descriptors[size_t(slot)].get(); }
    size_t size() const { return m_descriptors.size(); }
    void clear()
    {
        m_slots.clear();
        m_descriptors.clear();
        m_errors.clear();
    }

private:
    std::function<int(const LogicalPath &)> m_open;
    QHash<LogicalPath, int> m_slots;
    std::vector<Descriptor> m_descriptors;
    std::vector<int> m_errors;
};

Volume::Moved missingMove()
{
    Volume::Moved moved;
    moved.outcome = Volume::Moved::Missing;
    moved.error = ENOENT;
    return moved;
}

Volume::Moved failedMove(const QString &reason, int error)
{
    Volume::Moved moved;
    moved.reason = reason;
    moved.error = error;
    return moved;
}

} // namespace

QList<Volume::Moved> Volume::moveItems(const QList<Move> &moves, Reach reach, const MoveHooks &hooks) const
{
    // A batch is recorded with one call (one sync of a journal), and holds
    // a descriptor per folder it touches.
    constexpr qsizetype kBatchItems = 4096;
    constexpr size_t kBatchFolders = 256;
    QList<Moved> results(moves.size());
    BatchFolders folders([this](const LogicalPath &folder) {
        return openInside(folder, O_PATH | O_DIRECTORY, kRemovalResolve);
    });
    struct Pending
    {
        int from;
        int to;
        QByteArray fromName;
        QByteArray toName;
    };
    QList<Pending> pending;
    QList<qsizetype> indices;
    std::optional<LogicalPath> fromFolder, toFolder;
    int fromSlot = -1, toSlot = -1, fromError = 0, toError = 0;
    const auto flush = [&] {
        const bool go = indices.isEmpty() || !hooks.commit || hooks.commit();
        for (qsizetype k = 0; k < indices.size(); ++k) {
            Moved &moved = results[indices[k]];
            const Pending &p = pending[k];
            if (!go) {
                moved.reason = QStringLiteral("it could not be recorded before it moved");
                moved.error = EIO;
            } else if (::renameat2(folders.descriptor(p.from), p.fromName.constData(), folders.descriptor(p.to),
                                   p.toName.constData(), RENAME_NOREPLACE) == 0) {
                moved.outcome = Moved::Done;
            } else {
                moved.outcome = errno == ENOENT ? Moved::Missing : Moved::Failed;
                moved.reason = errno == ENOENT ? QString() : errorText(errno);
                moved.error = errno;
            }
        }
        pending.clear();
        indices.clear();
        folders.clear();
        fromFolder.reset();
        toFolder.reset();
    };
    // A file swapped for a folder between the look and the rename moves
    // whole; it moves into a quarantine, from which undo brings it back.
    for (qsizetype i = 0; i < moves.size(); ++i) {
        const Move &move = moves[i];
        const std::optional<QByteArray> fromName = cName(move.from.name());
        const std::optional<QByteArray> toName = cName(move.to.name());
        if (move.from.isRoot() || move.to.isRoot() || !fromName || !toName) {
            results[i] = failedMove(QStringLiteral("the volume's root is never moved"), EINVAL);
            continue;
        }
        // Runs of items share their folders: looked up once per run.
        if (!fromFolder || !move.from.isChildOf(*fromFolder)) {
            fromFolder = move.from.parent();
            fromSlot = folders.slotOf(*fromFolder, &fromError);
        }
        if (!toFolder || !move.to.isChildOf(*toFolder)) {
            toFolder = move.to.parent();
            toSlot = folders.slotOf(*toFolder, &toError);
        }
        const int from = fromSlot;
        const int to = from < 0 ? -1 : toSlot;
        if (from < 0 || to < 0) {
            const int error = from < 0 ? fromError : toError;
            results[i] = from < 0 && error == ENOENT ? missingMove() : failedMove(errorText(error), error);
            continue;
        }
        const std::optional<ItemStatus> status = statusAt(folders.descriptor(from), fromName->constData());
        if (!status) {
            results[i] = errno == ENOENT ? missingMove() : failedMove(errorText(errno), errno);
            continue;
        }
        Moved &moved = results[i];
        moved.status = *status;
        moved.bytes = status->isFile() ? status->size : 0;
        if (status->immutable) {
            moved.reason = QStringLiteral("the item is immutable");
            moved.error = EPERM;
            continue;
        }
        if (status->isDirectory()) {
            if (reach == Reach::ItemOnly) {
                moved.reason = QStringLiteral("a folder: it goes only as an empty folder, on its own request");
                moved.error = EISDIR;
                continue;
            }
            const Descriptor folder(::openat(folders.descriptor(from), fromName->constData(),
                                             O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
            const std::optional<MountOf> parentMount = mountOf(folders.descriptor(from));
            if (!folder.isValid() || !parentMount || !onMount(folder.get(), parentMount->id)) {
                moved.reason = folder.isValid() ? kMountPoint : errorText(errno);
                moved.error = folder.isValid() ? EBUSY : errno;
                continue;
            }
            TreeSurvey survey;
            surveyEntries(folder.get(), parentMount->id, 0, survey);
            moved.bytes = survey.bytes;
            if (!survey.obstacle.isEmpty()) {
                moved.reason = survey.obstacle;
                moved.error = survey.error;
                moved.obstructed = true;
                continue;
            }
        }
        if (hooks.check) {
            moved.reason = hooks.check(i, moved);
            if (!moved.reason.isEmpty()) {
                moved.error = EPERM;
                continue;
            }
        }
        pending.append({from, to, *fromName, *toName});
        indices.append(i);
        if (pending.size() >= kBatchItems || folders.size() >= kBatchFolders)
            flush();
    }
    flush();
    return results;
}

QList<bool> Volume::moveFolderContents(const QList<FolderContents> &folders, const ContentsHooks &hooks) const
{
    // Two descriptors are held per folder of a batch.
    constexpr qsizetype kBatchFolders = 128;
    QList<bool> moved(folders.size(), false);
    struct Pending
    {
        qsizetype index;
        Descriptor parent;
        Descriptor toParent;
        QByteArray name;
        QByteArray toName;
        ItemStatus status;
    };
    std::vector<Pending> pending;
    const auto flush = [&] {
        if (pending.empty() || (hooks.commit && !hooks.commit())) {
            pending.clear();
            return;
        }
        for (const Pending &p : pending) {
            if (::renameat2(p.parent.get(), p.name.constData(), p.toParent.get(), p.toName.constData(), RENAME_NOREPLACE) != 0)
                continue;
            moved[p.index] = true;
            // Anything put in meanwhile went along, into the quarantine,
            // from where undo brings it back. The new folder is opened to
            // others only once it is theirs.
            if (::mkdirat(p.parent.get(), p.name.constData(), 0700) == 0) {
                const Descriptor made(::openat(p.parent.get(), p.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                if (made.isValid() && ::fchown(made.get(), p.status.owner, p.status.group) == 0)
                    ::fchmod(made.get(), mode_t(p.status.mode));
            }
        }
        pending.clear();
    };
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const FolderContents &contents = folders[i];
        const std::optional<QByteArray> name = cName(contents.folder.name());
        const std::optional<QByteArray> toName = cName(contents.to.name());
        if (contents.folder.isRoot() || contents.to.isRoot() || !name || !toName)
            continue;
        Descriptor parent(openInside(contents.folder.parent(), O_PATH | O_DIRECTORY, kRemovalResolve));
        Descriptor toParent(openInside(contents.to.parent(), O_PATH | O_DIRECTORY, kRemovalResolve));
        if (!parent.isValid() || !toParent.isValid())
            continue;
        const Descriptor opened(::openat(parent.get(), name->constData(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
        const std::optional<MountOf> parentMount = mountOf(parent.get());
        if (!opened.isValid() || !parentMount || !onMount(opened.get(), parentMount->id))
            continue;
        const std::optional<ItemStatus> status = statusAt(opened.get(), "");
        const std::optional<QList<VolumeFolder::Entry>> entries = readEntries(opened.get());
        if (!status || status->immutable || !entries || entries->size() != contents.names.size())
            continue;
        quint64 bytes = 0;
        bool only = true;
        for (const VolumeFolder::Entry &entry : *entries) {
            const std::optional<ItemStatus> item =
                contents.names.contains(entry.name) ? statusAt(opened.get(), entry.name.constData()) : std::nullopt;
            if (!item || item->isDirectory() || item->immutable) {
                only = false;
                break;
            }
            bytes += item->isFile() ? item->size : 0;
        }
        if (!only || (hooks.check && !hooks.check(i, *status, bytes)))
            continue;
        pending.push_back({i, std::move(parent), std::move(toParent), *name, *toName, *status});
        if (qsizetype(pending.size()) >= kBatchFolders)
            flush();
    }
    flush();
    return moved;
}

bool Volume::makeFolder(const LogicalPath &path, unsigned mode, std::optional<Owner> owner, QString *error,
                        int *errorNumber) const
{
    const auto fail = [&](int number) {
        setError(error, errorText(number));
        if (errorNumber)
            *errorNumber = number;
        return false;
    };
    const std::optional<QByteArray> name = cName(path.name());
    if (path.isRoot() || !name)
        return fail(EINVAL);
    const Descriptor parent(openInside(path.parent(), O_PATH | O_DIRECTORY, kRemovalResolve));
    if (!parent.isValid())
        return fail(errno);
    // Made closed to everybody, then given its owner and mode through a
    // descriptor of the folder made, never by name again.
    if (::mkdirat(parent.get(), name->constData(), 0700) != 0)
        return fail(errno);
    const Descriptor folder(::openat(parent.get(), name->constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.isValid() || (owner && ::fchown(folder.get(), owner->user, owner->group) != 0)
        || ::fchmod(folder.get(), mode_t(mode & 07777)) != 0)
        return fail(errno);
    return true;
}

// --- files only added to ---

std::optional<AppendOnlyFile> AppendOnlyFile::opened(const Volume &volume, const LogicalPath &path, unsigned mode,
                                                   QString *error)
{
    const std::optional<QByteArray> name = cName(path.name());
    const Descriptor parent(path.isRoot() || !name ? -1
                                                   : volume.openInside(path.parent(), O_PATH | O_DIRECTORY, kRemovalResolve));
    if (!parent.isValid()) {
        setError(error, errorText(name ? errno : EINVAL));
        return std::nullopt;
    }
    const int fd = ::openat(parent.get(), name->constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                            mode_t(mode));
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        setError(error, fd < 0 ? errorText(errno) : QStringLiteral("not a regular file"));
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    return AppendOnlyFile(fd);
}

AppendOnlyFile::AppendOnlyFile(AppendOnlyFile &&other) noexcept : m_descriptor(std::exchange(other.m_descriptor, -1)) {}

AppendOnlyFile &AppendOnlyFile::operator=(AppendOnlyFile &&other) noexcept
{
    std::swap(m_descriptor, other.m_descriptor);
    return *this;
}

AppendOnlyFile::~AppendOnlyFile()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

bool AppendOnlyFile::append(const QByteArray &data, bool sync)
{
    return m_descriptor >= 0 && writeAll(m_descriptor, data) && (!sync || ::fdatasync(m_descriptor) == 0);
}

std::optional<QStringList> Volume::list(const LogicalPath &folder) const
{
    const std::optional<VolumeFolder> open = VolumeFolder::opened(*this, folder);
    const std::optional<QList<VolumeFolder::Entry>> entries = open ? open->entries() : std::nullopt;
    if (!entries)
        return std::nullopt;
    QStringList names;
    names.reserve(entries->size());
    for (const VolumeFolder::Entry &entry : *entries)
        names.append(QFile::decodeName(entry.name));
    return names;
}

// --- open folders ---

// Folders are held as O_PATH descriptors: status questions need only the
// right to search a folder, listing reopens it for reading.
std::optional<VolumeFolder> VolumeFolder::opened(const Volume &volume, const LogicalPath &path)
{
    const int fd = volume.openInside(path, O_PATH | O_DIRECTORY);
    if (fd < 0)
        return std::nullopt;
    return VolumeFolder(fd);
}

VolumeFolder::VolumeFolder(VolumeFolder &&other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1))
{
}

VolumeFolder &VolumeFolder::operator=(VolumeFolder &&other) noexcept
{
    std::swap(m_descriptor, other.m_descriptor);
    return *this;
}

VolumeFolder::~VolumeFolder()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

std::optional<ItemStatus> VolumeFolder::statusOf(const QByteArray &name) const
{
    if (name.isEmpty() || name.contains('/'))
        return std::nullopt;
    return statusAt(m_descriptor, name.constData());
}

std::optional<VolumeFolder> VolumeFolder::openChild(const QByteArray &name) const
{
    if (name.isEmpty() || name.contains('/') || name == "." || name == "..")
        return std::nullopt;
    const int fd = ::openat(m_descriptor, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    return VolumeFolder(fd);
}

std::optional<QList<VolumeFolder::Entry>> VolumeFolder::entries() const
{
    return readEntries(m_descriptor);
}

} // namespace platform
