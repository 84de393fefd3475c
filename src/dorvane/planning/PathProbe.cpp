#include "dorvane/planning/PathProbe.h"

#include "platform/FileFlags.h"
#include "platform/Volume.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dorvane {

namespace {

using Kind = PathProbe::Item::Kind;

// An absolute path that lexical cleaning would leave as it is: no empty,
// "." or ".." component and no trailing slash. Bills list such paths, so
// the cleaning (a split and a join) is skipped for nearly all of them.
bool isClean(const QString &path)
{
    const qsizetype n = path.size();
    if (n < 2 || path.at(0) != QLatin1Char('/') || path.at(n - 1) == QLatin1Char('/'))
        return false;
    const QChar *s = path.constData();
    for (qsizetype i = 0; i < n; ++i) {
        if (s[i] != QLatin1Char('/'))
            continue;
        qsizetype end = i + 1; // the component that starts after this slash
        while (end < n && s[end] != QLatin1Char('/'))
            ++end;
        const qsizetype length = end - i - 1;
        if (length == 0)
            return false;
        if (s[i + 1] == QLatin1Char('.') && (length == 1 || (length == 2 && s[i + 2] == QLatin1Char('.'))))
            return false;
        i = end - 1;
    }
    return true;
}

void setKind(PathProbe::Item &item, unsigned mode, quint64 size)
{
    item.kind = S_ISDIR(mode) ? Kind::Folder : S_ISLNK(mode) ? Kind::Link : Kind::File;
    item.flagsReadable = S_ISDIR(mode) || S_ISREG(mode);
    item.size = size;
}

// The status of the entry `name` of an open folder (or of a path, with
// AT_FDCWD), never following it. On Linux statx reports the immutable flag,
// the stand-in for the restricted flag, in the same call where the file
// system supports it; elsewhere the flag is read separately when asked for.
bool statusAt(int folder, const char *name, PathProbe::Item &item)
{
#if defined(__linux__) && defined(STATX_ATTR_IMMUTABLE)
    // Old kernels lack statx and some container sandboxes refuse it; then
    // the plain status call answers from the first refusal on.
    static std::atomic<bool> statxWorks{true};
    if (statxWorks.load(std::memory_order_relaxed)) {
        struct statx extended;
        if (::statx(folder, name, AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_SIZE, &extended) == 0) {
            setKind(item, extended.stx_mode, extended.stx_size);
            if (!item.flagsReadable)
                item.restricted = false;
            else if (extended.stx_attributes_mask & STATX_ATTR_IMMUTABLE)
                item.restricted = (extended.stx_attributes & STATX_ATTR_IMMUTABLE) != 0;
            return true;
        }
        if (errno == ENOENT || errno == ENOTDIR)
            return false;
        if (errno == ENOSYS || errno == EPERM)
            statxWorks.store(false, std::memory_order_relaxed);
    }
#endif
    struct stat status;
    if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    setKind(item, status.st_mode, quint64(status.st_size));
    return true;
}

QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

PathProbe::Item itemAtPhysical(const QString &physical)
{
    PathProbe::Item item;
    if (physical.isEmpty() || !statusAt(AT_FDCWD, QFile::encodeName(physical).constData(), item))
        return PathProbe::Item{};
    item.physical = physical;
    return item;
}

} // namespace

PathProbe::~PathProbe()
{
    if (m_folderDescriptor >= 0)
        ::close(m_folderDescriptor);
}

PathProbe::Item PathProbe::look(const QString &logical)
{
    if (!isClean(logical))
        return itemAtPhysical(platform::Volume::resolvedPhysicalPath(logical, false));

    const qsizetype slash = logical.lastIndexOf(QLatin1Char('/'));
    enterFolder(slash == 0 ? QStringView(u"/") : QStringView(logical).left(slash));
    if (m_physicalFolder.isEmpty() || m_folderMissing)
        return Item{};
    Item item;
    item.name = logical.mid(slash + 1);
    if (m_folderDescriptor < 0) // open but not readable: ask by path
        return itemAtPhysical(joined(m_physicalFolder, item.name));
    if (!statusAt(m_folderDescriptor, QFile::encodeName(item.name).constData(), item))
        return Item{};
    item.physical = m_physicalFolder;
    return item;
}

bool PathProbe::isRestricted(const Item &item)
{
    if (item.restricted)
        return *item.restricted;
    if (!item.flagsReadable)
        return false;
    return platform::FileFlags::isImmutable(item.name.isEmpty() ? item.physical : joined(item.physical, item.name));
}

// Opens the item's folder, unless it is the one open already: bills list a
// folder's items together, so most paths reuse the folder of the one before.
void PathProbe::enterFolder(QStringView logicalFolder)
{
    if (logicalFolder == m_folder && !m_folder.isEmpty())
        return;
    if (m_folderDescriptor >= 0)
        ::close(m_folderDescriptor);
    m_folderDescriptor = -1;
    m_folderMissing = false;
    m_folder = logicalFolder.toString();
    m_physicalFolder = physicalFolder(m_folder);
    if (m_physicalFolder.isEmpty())
        return; // a link loop
    // Every link of the physical folder is resolved already; O_NOFOLLOW
    // keeps a link swapped in since from leading the lookups elsewhere.
    m_folderDescriptor =
        ::open(QFile::encodeName(m_physicalFolder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // Nothing can be inside a folder that is not there. One that may be
    // searched but not read is asked by path instead.
    if (m_folderDescriptor < 0)
        m_folderMissing = errno == ENOENT || errno == ENOTDIR;
}

QString PathProbe::physicalFolder(const QString &logicalFolder)
{
    const auto known = m_folders.constFind(logicalFolder);
    if (known != m_folders.cend())
        return *known;
    const QString physical = platform::Volume::resolvedPhysicalPath(logicalFolder, true);
    m_folders.insert(logicalFolder, physical);
    return physical;
}

} // namespace dorvane
