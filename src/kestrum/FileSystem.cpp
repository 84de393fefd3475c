#include "kestrum/FileSystem.h"

#include "platform/FileFlags.h"
#include "platform/Volume.h"

#include <QDirIterator>
#include <QFile>
#include <QSaveFile>

#include <dirent.h>
#include <sys/stat.h>

using platform::Volume;

namespace kestrum {

namespace {

// One item as the file system sees it: where it is physically, and its own
// status (lstat form). The logical path is resolved inside the volume first,
// so a link can never lead the question outside the volume's root.
struct Item
{
    QString physical;
    struct stat status;
};

std::optional<Item> statItem(const QString &logical, bool followFinal)
{
    if (logical.isEmpty())
        return std::nullopt;
    Item item{Volume::resolvedPhysicalPath(logical, followFinal), {}};
    if (item.physical.isEmpty()) // a link loop
        return std::nullopt;
    if (::lstat(QFile::encodeName(item.physical).constData(), &item.status) != 0)
        return std::nullopt;
    return item;
}

QString appendComponent(QString base, const QString &component)
{
    if (base.isEmpty())
        return component;
    while (base.size() > 1 && base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base.endsWith(QLatin1Char('/')) ? base + component : base + QLatin1Char('/') + component;
}

QStringList appendedToEach(const QString &base, const QStringList &components)
{
    QStringList out;
    out.reserve(components.size());
    for (const QString &component : components)
        out.append(appendComponent(base, component));
    return out;
}

// A folder's entries as paths relative to it, together with the physical
// folder they lie in. Links inside are listed and never descended into; the
// folder itself must be a real folder once its links are resolved inside the
// volume, so an unresolvable link is never handed to the kernel to follow.
struct Listing
{
    QString physicalFolder;
    QStringList relative;
};

std::optional<Listing> listFolder(const QString &logical, bool recursive)
{
    const std::optional<Item> folder = statItem(logical, true);
    if (!folder || !S_ISDIR(folder->status.st_mode))
        return std::nullopt;
    // QDirIterator cannot tell an unreadable folder from an empty one.
    DIR *probe = ::opendir(QFile::encodeName(folder->physical).constData());
    if (!probe)
        return std::nullopt;
    ::closedir(probe);

    Listing listing{folder->physical, {}};
    const QString prefix = appendComponent(folder->physical, QString());
    QDirIterator it(folder->physical, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext()) {
        const QString entry = it.next();
        if (entry.startsWith(prefix))
            listing.relative.append(entry.mid(prefix.size()));
    }
    return listing;
}

// The Mac's resolution drops a leading "/private" when what is left names an
// existing item (on a Mac volume /tmp, /var and /etc link into /private).
QString withoutPrivatePrefix(const QString &resolved)
{
    static const QString kPrivate = QStringLiteral("/private");
    if (!resolved.startsWith(kPrivate + QLatin1Char('/')))
        return resolved;
    const QString shorter = resolved.mid(kPrivate.size());
    return fileExists(shorter) ? shorter : resolved;
}

std::optional<QString> localPath(const QUrl &url)
{
    if (!url.isLocalFile() || url.path().isEmpty())
        return std::nullopt;
    return url.path();
}

QList<QUrl> urlsBelow(const QUrl &url, const QStringList &relative)
{
    QList<QUrl> out;
    out.reserve(relative.size());
    for (const QString &path : relative)
        out.append(add(url, path));
    return out;
}

} // namespace

bool fileExists(const QString &path)
{
    // Resolution stops short of a link only on a loop or an unreadable link:
    // neither leads anywhere, so neither exists.
    const std::optional<Item> item = statItem(path, true);
    return item && !S_ISLNK(item->status.st_mode);
}

bool fileIsRestricted(const QString &path)
{
    const std::optional<Item> item = statItem(path, false);
    return item && platform::FileFlags::isImmutable(item->physical);
}

bool fileIsAlias(const QString &path)
{
    const std::optional<Item> item = statItem(path, false);
    return item && S_ISLNK(item->status.st_mode);
}

QString fileAliasTarget(const QString &path)
{
    if (path.isEmpty())
        return QString();
    const QString target = Volume::resolvedLogicalPath(path, true);
    return fileExists(target) ? target : QString();
}

QString stringByResolvingSymlinksInPathFixed(const QString &path)
{
    if (path.isEmpty())
        return path;
    QString resolved = Volume::resolvedLogicalPath(path, true);
    if (resolved.isEmpty())
        resolved = Volume::expandTilde(path);
    if (resolved.size() > 1 && resolved.endsWith(QLatin1Char('/')))
        resolved.chop(1);
    resolved = withoutPrivatePrefix(resolved);
    for (const char *prefix : {"/etc/", "/tmp/", "/var/"}) {
        if (resolved.startsWith(QLatin1String(prefix)))
            return QStringLiteral("/private") + resolved;
    }
    return resolved;
}

quint64 fileSize(const QString &path)
{
    const std::optional<Item> item = statItem(path, false);
    return item ? static_cast<quint64>(item->status.st_size) : 0;
}

std::optional<FileAttributes> fileAttributes(const QString &path)
{
    const std::optional<Item> item = statItem(path, false);
    if (!item)
        return std::nullopt;
    FileAttributes attributes;
    const mode_t mode = item->status.st_mode;
    attributes.type = S_ISREG(mode)   ? FileAttributes::Type::File
                      : S_ISDIR(mode) ? FileAttributes::Type::Directory
                      : S_ISLNK(mode) ? FileAttributes::Type::Link
                                      : FileAttributes::Type::Other;
    attributes.size = static_cast<quint64>(item->status.st_size);
    return attributes;
}

quint64 directorySize(const QString &path)
{
    const std::optional<Listing> listing = listFolder(path, true);
    if (!listing)
        return 0;
    quint64 total = 0;
    for (const QString &relative : listing->relative) {
        struct stat status;
        const QString physical = appendComponent(listing->physicalFolder, relative);
        if (::lstat(QFile::encodeName(physical).constData(), &status) != 0 || S_ISDIR(status.st_mode))
            continue;
        total += static_cast<quint64>(status.st_size);
    }
    return total;
}

std::optional<QStringList> dirContents(const QString &path)
{
    const std::optional<Listing> listing = listFolder(path, false);
    return listing ? std::optional<QStringList>(listing->relative) : std::nullopt;
}

std::optional<QStringList> dirContentsRecursive(const QString &path)
{
    const std::optional<Listing> listing = listFolder(path, true);
    return listing ? std::optional<QStringList>(listing->relative) : std::nullopt;
}

std::optional<QStringList> dirContentsAbsolute(const QString &path)
{
    const std::optional<QStringList> names = dirContents(path);
    return names ? std::optional<QStringList>(appendedToEach(path, *names)) : std::nullopt;
}

std::optional<QStringList> dirContentsRecursiveAbsolute(const QString &path)
{
    const std::optional<QStringList> relative = dirContentsRecursive(path);
    return relative ? std::optional<QStringList>(appendedToEach(path, *relative)) : std::nullopt;
}

QString uniqueFile(const QString &path)
{
    // A dangling link counts as taken: writing there would write through it.
    if (!statItem(path, false))
        return path;
    QString stem = path;
    while (stem.size() > 1 && stem.endsWith(QLatin1Char('/')))
        stem.chop(1);
    const qsizetype nameStart = stem.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = stem.lastIndexOf(QLatin1Char('.'));
    QString extension;
    if (dot > nameStart) { // a leading dot starts a hidden name, not an extension
        extension = stem.mid(dot + 1);
        stem.truncate(dot);
    }
    for (qint64 counter = 0;; ++counter) {
        // One-pass arg(), so that a "%2" inside the name is never substituted.
        const QString candidate = QStringLiteral("%1-%2.%3").arg(stem, QString::number(counter), extension);
        if (!statItem(candidate, false))
            return candidate;
    }
}

std::optional<QByteArray> contents(const QString &path)
{
    // Only regular files: opening a fifo or a device could block or act.
    const std::optional<Item> item = statItem(path, true);
    if (!item || !S_ISREG(item->status.st_mode))
        return std::nullopt;
    QFile file(item->physical);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

void setContents(const QString &path, const QByteArray &data)
{
    if (path.isEmpty())
        return;
    const QString physical = Volume::resolvedPhysicalPath(path, true);
    if (physical.isEmpty())
        return;
    QSaveFile file(physical);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(data);
        file.commit();
    }
}

bool isWriteablePath(const QString &path)
{
    if (path.isEmpty() || statItem(path, false))
        return false;
    const QString physical = Volume::resolvedPhysicalPath(path, false);
    if (physical.isEmpty())
        return false;
    QSaveFile file(physical);
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArrayLiteral("TEST")) != 4 || !file.commit())
        return false;
    QFile::remove(physical);
    return true;
}

QString expanded(const QString &path)
{
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        return Volume::expandTilde(path);
    return path;
}

QUrl fileURL(const QString &path)
{
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(Volume::expandTilde(path));
}

bool fileExists(const QUrl &url)
{
    const std::optional<QString> path = localPath(url);
    return path && fileExists(*path);
}

bool fileIsRestricted(const QUrl &url)
{
    const std::optional<QString> path = localPath(url);
    return path && fileIsRestricted(*path);
}

bool fileIsAlias(const QUrl &url)
{
    const std::optional<QString> path = localPath(url);
    return path && fileIsAlias(*path);
}

bool fileIsDirectory(const QUrl &url)
{
    const std::optional<QString> path = localPath(url);
    const std::optional<Item> item = path ? statItem(*path, false) : std::nullopt;
    return item && S_ISDIR(item->status.st_mode);
}

quint64 fileSize(const QUrl &url)
{
    const std::optional<QString> path = localPath(url);
    return path && !fileIsDirectory(url) ? fileSize(*path) : 0;
}

quint64 directorySize(const QUrl &url)
{
    const std::optional<QString> path = localPath(url);
    return path ? directorySize(*path) : 0;
}

std::optional<QList<QUrl>> dirContents(const QUrl &url)
{
    const std::optional<QString> path = localPath(url);
    const std::optional<QStringList> names = path ? dirContents(*path) : std::nullopt;
    return names ? std::optional<QList<QUrl>>(urlsBelow(url, *names)) : std::nullopt;
}

std::optional<QList<QUrl>> dirContentsRecursive(const QUrl &url)
{
    const std::optional<QString> path = localPath(url);
    const std::optional<QStringList> relative = path ? dirContentsRecursive(*path) : std::nullopt;
    return relative ? std::optional<QList<QUrl>>(urlsBelow(url, *relative)) : std::nullopt;
}

std::optional<QUrl> uniqueFile(const QUrl &url)
{
    const std::optional<QString> path = localPath(url);
    if (!path)
        return std::nullopt;
    QUrl free = url;
    free.setPath(uniqueFile(*path));
    return free;
}

std::optional<QByteArray> contents(const QUrl &url)
{
    const std::optional<QString> path = localPath(url);
    return path ? contents(*path) : std::nullopt;
}

void setContents(const QUrl &url, const QByteArray &data)
{
    if (const std::optional<QString> path = localPath(url))
        setContents(*path, data);
}

QUrl add(const QUrl &url, const QString &component)
{
    QUrl out = url;
    QString path = appendComponent(url.path(), component);
    // A URL with a host needs an absolute path ("http://host" + "x").
    if (url.path().isEmpty() && !url.authority().isEmpty())
        path.prepend(QLatin1Char('/'));
    out.setPath(path);
    return out;
}

} // namespace kestrum
