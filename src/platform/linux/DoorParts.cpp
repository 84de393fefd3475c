// The volume door's shared parts on Linux.

#include "DoorParts.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform::door {

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

int reopen(int pathDescriptor, int flags)
{
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(pathDescriptor);
    return ::open(link.constData(), flags | O_CLOEXEC);
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

bool onMount(int fd, quint64 mountId)
{
    const std::optional<MountOf> mount = mountOf(fd);
    return mount && !mount->isRoot && mount->id == mountId;
}


void keepFirst(QString &failure, const QString &reason)
{
    if (failure.isEmpty())
        failure = reason;
}

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

} // namespace platform::door
