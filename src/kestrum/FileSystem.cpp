#include "kestrum/FileSystem.h"

#include "kestrum/Format.h"

#include "platform/Bookmark.h"
#include "platform/Volume.h"

#include <QFile>

using platform::Follow;
using platform::ItemStatus;
using platform::LogicalPath;
using platform::Volume;
using platform::VolumeFolder;

namespace kestrum {

namespace {

// Text becomes a path once, here; text that names nothing (an empty one)
// has no answer.
std::optional<LogicalPath> pathOf(const QString &text)
{
    return platform::volumePath(text);
}

std::optional<ItemStatus> statusOf(const QString &text, Follow follow)
{
    const std::optional<LogicalPath> path = pathOf(text);
    return path ? Volume::current()->status(*path, follow) : std::nullopt;
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

// Walks a folder through open descriptors: entries are never followed, so a
// link inside leads nowhere, and a subfolder swapped for a link meanwhile is
// refused rather than entered. A subfolder that cannot be read is passed over.
template<typename Visit>
void walk(const VolumeFolder &folder, const QString &relative, bool recursive, const Visit &visit)
{
    const std::optional<QList<VolumeFolder::Entry>> entries = folder.entries();
    if (!entries)
        return;
    for (const VolumeFolder::Entry &entry : *entries) {
        const QString name = QFile::decodeName(entry.name);
        const QString path = relative.isEmpty() ? name : relative + QLatin1Char('/') + name;
        visit(folder, entry, path);
        if (recursive && entry.isDirectory) {
            if (const std::optional<VolumeFolder> child = folder.openChild(entry.name))
                walk(*child, path, true, visit);
        }
    }
}

std::optional<VolumeFolder> openFolder(const QString &text)
{
    const std::optional<LogicalPath> path = pathOf(text);
    return path ? VolumeFolder::opened(*Volume::current(), *path) : std::nullopt;
}

std::optional<QStringList> listFolder(const QString &text, bool recursive)
{
    const std::optional<VolumeFolder> folder = openFolder(text);
    // An unreadable folder is no empty one.
    if (!folder || !folder->entries())
        return std::nullopt;
    QStringList relative;
    walk(*folder, QString(), recursive,
         [&](const VolumeFolder &, const VolumeFolder::Entry &, const QString &entryPath) { relative.append(entryPath); });
    return relative;
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

// A Finder alias file is small; a larger file is never read to find out.
constexpr qint64 kAliasLimit = 1024 * 1024;

enum class AliasKind { None, Link, Finder };

AliasKind aliasKind(const QString &text)
{
    const std::optional<LogicalPath> path = pathOf(text);
    const std::optional<ItemStatus> status = path ? Volume::current()->status(*path, Follow::NotFinal) : std::nullopt;
    if (status && status->isLink())
        return AliasKind::Link;
    if (!status || !status->isFile() || qint64(status->size) > kAliasLimit)
        return AliasKind::None;
    const std::optional<QByteArray> data = Volume::current()->readFile(*path, kAliasLimit);
    return data && platform::isBookmarkData(*data) ? AliasKind::Finder : AliasKind::None;
}

} // namespace

bool fileExists(const QString &path)
{
    // A dangling link, a loop or an over-long path leads nowhere.
    return statusOf(path, Follow::Final).has_value();
}

bool fileIsRestricted(const QString &path)
{
    const std::optional<ItemStatus> status = statusOf(path, Follow::NotFinal);
    return status && status->immutable;
}

bool fileIsAlias(const QString &path)
{
    return aliasKind(path) != AliasKind::None;
}

QString fileAliasTarget(const QString &path)
{
    const std::optional<LogicalPath> logical = pathOf(path);
    std::optional<LogicalPath> target;
    switch (logical ? aliasKind(path) : AliasKind::None) {
    case AliasKind::None:
        return QString();
    case AliasKind::Link:
        target = Volume::current()->resolved(*logical);
        break;
    case AliasKind::Finder: {
        const std::optional<QByteArray> data = Volume::current()->readFile(*logical, kAliasLimit);
        const std::optional<QString> named = data ? platform::bookmarkPath(*data) : std::nullopt;
        const std::optional<LogicalPath> bookmarked = named ? pathOf(*named) : std::nullopt;
        target = bookmarked ? Volume::current()->resolved(*bookmarked) : std::nullopt;
        break;
    }
    }
    return target && Volume::current()->status(*target, Follow::Final) ? target->toString() : QString();
}

QString stringByResolvingSymlinksInPathFixed(const QString &path)
{
    const std::optional<LogicalPath> logical = pathOf(path);
    if (!logical)
        return path;
    const std::optional<LogicalPath> target = Volume::current()->resolved(*logical);
    QString resolved = withoutPrivatePrefix((target ? *target : *logical).toString());
    for (const char *prefix : {"/etc/", "/tmp/", "/var/"}) {
        if (resolved.startsWith(QLatin1String(prefix)))
            return QStringLiteral("/private") + resolved;
    }
    return resolved;
}

quint64 fileSize(const QString &path)
{
    const std::optional<ItemStatus> status = statusOf(path, Follow::NotFinal);
    return status ? status->size : 0;
}

quint64 directorySize(const QString &path)
{
    const std::optional<VolumeFolder> folder = openFolder(path);
    if (!folder)
        return 0;
    quint64 total = 0;
    walk(*folder, QString(), true, [&](const VolumeFolder &in, const VolumeFolder::Entry &entry, const QString &) {
        if (entry.isDirectory)
            return;
        if (const std::optional<ItemStatus> status = in.statusOf(entry.name); status && !status->isDirectory())
            total += status->size;
    });
    return total;
}

std::optional<QStringList> dirContents(const QString &path)
{
    return listFolder(path, false);
}

std::optional<QStringList> dirContentsRecursive(const QString &path)
{
    return listFolder(path, true);
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
    if (!statusOf(path, Follow::NotFinal))
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
        const QString candidate = makeString("%@-%i.%@", stem, counter, extension);
        if (!statusOf(candidate, Follow::NotFinal))
            return candidate;
    }
}

std::optional<QByteArray> contents(const QString &path, qint64 maxBytes)
{
    // Only regular files: opening a fifo or a device could block or act.
    const std::optional<LogicalPath> logical = pathOf(path);
    return logical ? Volume::current()->readFile(*logical, maxBytes) : std::nullopt;
}

void setContents(const QString &path, const QByteArray &data)
{
    if (const std::optional<LogicalPath> logical = pathOf(path))
        Volume::current()->writeFile(*logical, data);
}

bool isWriteablePath(const QString &path)
{
    const std::optional<LogicalPath> logical = pathOf(path);
    if (!logical || Volume::current()->status(*logical, Follow::NotFinal))
        return false;
    if (!Volume::current()->writeFile(*logical, QByteArrayLiteral("TEST")))
        return false;
    Volume::current()->removeItem(*logical);
    return true;
}

QString expanded(const QString &path)
{
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        return Volume::current()->expandTilde(path);
    return path;
}

QUrl fileURL(const QString &path)
{
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(Volume::current()->expandTilde(path));
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
    const std::optional<ItemStatus> status = path ? statusOf(*path, Follow::NotFinal) : std::nullopt;
    return status && status->isDirectory();
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
