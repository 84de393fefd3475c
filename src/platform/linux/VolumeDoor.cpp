// The volume door on Linux: every name is opened with openat2() and
// RESOLVE_IN_ROOT below the descriptor of the volume root, so the kernel
// itself resolves links inside the volume and never out of it.

#include "DoorParts.h"
#include "platform/Memory.h"

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

using namespace door;

namespace {

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
    QByteArray data = fileBuffer(qsizetype(status->size));
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
