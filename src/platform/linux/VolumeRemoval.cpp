// Removals through the volume door on Linux: by descriptor, depth first,
// never following a link or entering a mount point.

#include "DoorParts.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

using namespace door;

namespace {

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

} // namespace platform
