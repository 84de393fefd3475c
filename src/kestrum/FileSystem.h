#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// The program's vocabulary for asking about paths and file URLs. Every path
// taken or given back here is a LOGICAL path on the volume being worked on
// ("/Applications/Foo.app", "~" allowed); the physical item is found through
// platform::Volume's door, and symbolic links are resolved inside the volume,
// so no answer ever comes from outside it. A file URL's path is a logical path too.
//
// Nothing here reports an error: a question that cannot be answered gives
// false, 0, an empty path or std::nullopt, as each declaration says. Every
// function is synchronous and may be called from any thread.
namespace kestrum {

// Whether an item exists at the path, following a final symbolic link: a link
// whose target is missing does not exist.
bool fileExists(const QString &path);

// Whether the item itself (a final link is not followed) carries the
// restricted flag; see platform::FileFlags. False when it cannot be read.
bool fileIsRestricted(const QString &path);

// Whether the item is a symbolic link or a Finder alias file (a regular file
// of bookmark data, platform/Bookmark.h).
bool fileIsAlias(const QString &path);

// Where the alias leads, every link resolved inside the volume: a link's
// target, or the path a Finder alias names on this volume. Empty for an item
// that is no alias, and when nothing exists where it leads.
QString fileAliasTarget(const QString &path);

// The path with its links resolved inside the volume, the tilde expanded and
// the trailing slash dropped. A leading "/private" is removed when the path
// without it names an existing item, as the Mac's own resolution does; then
// "/private" goes back in front of a result under "/etc/", "/tmp/" or "/var/"
// so that it names the real location. A path caught in a link loop comes
// back expanded but otherwise unresolved.
QString stringByResolvingSymlinksInPathFixed(const QString &path);

// The size of the item itself: a link's own length, a folder's own entry.
// 0 when it cannot be read.
quint64 fileSize(const QString &path);

// The sum of the own sizes of everything below the folder except folders:
// links count with their own length and are never followed. 0 for a file, a
// missing path or a folder that cannot be listed.
quint64 directorySize(const QString &path);

// Folder listings, std::nullopt when the folder cannot be listed. A final
// link of the folder path is followed; links inside are listed as entries and
// never descended into. Hidden entries are included; the order is the file
// system's own, so callers that need an order sort. A subfolder that cannot
// be read is listed without its insides.
std::optional<QStringList> dirContents(const QString &path);                   // names
std::optional<QStringList> dirContentsRecursive(const QString &path);          // paths relative to the folder
std::optional<QStringList> dirContentsAbsolute(const QString &path);           // the path + "/" + name
std::optional<QStringList> dirContentsRecursiveAbsolute(const QString &path);  // the path + "/" + relative path

// The path itself when nothing (not even a dangling link) is there, else the
// first free "name-N.ext" with N counting from 0; a name without an
// extension gives "name-N.".
QString uniqueFile(const QString &path);

// The whole regular file (a final link followed) of at most maxBytes,
// std::nullopt otherwise: a fifo, a device or a larger file is never read.
inline constexpr qint64 kDefaultContentsLimit = 64 * 1024 * 1024;
std::optional<QByteArray> contents(const QString &path, qint64 maxBytes = kDefaultContentsLimit);

// Writes the data atomically (a temporary file, then renamed over the path; a
// link at the final name is replaced, never written through; the folder must
// exist). Failures are ignored.
void setContents(const QString &path, const QByteArray &data);

// Whether a new file can be written at the path: false when anything is
// already there (never overwritten); otherwise a small test file is written
// and removed again.
bool isWriteablePath(const QString &path);

// A leading "~" expanded to the volume's home folder; other paths unchanged.
QString expanded(const QString &path);

// A file URL for the path (tilde expanded, made absolute).
QUrl fileURL(const QString &path);

// The URL forms: a file URL asks the path question; any other URL gives
// false, 0 or std::nullopt, since only local items are looked at here.
bool fileExists(const QUrl &url);
bool fileIsRestricted(const QUrl &url);
bool fileIsAlias(const QUrl &url);
bool fileIsDirectory(const QUrl &url);   // the item itself: a link to a folder is no folder
quint64 fileSize(const QUrl &url);       // 0 for a folder, which has no file size
quint64 directorySize(const QUrl &url);
std::optional<QList<QUrl>> dirContents(const QUrl &url);
std::optional<QList<QUrl>> dirContentsRecursive(const QUrl &url);
std::optional<QUrl> uniqueFile(const QUrl &url);
std::optional<QByteArray> contents(const QUrl &url);
void setContents(const QUrl &url, const QByteArray &data);

// The URL with the text appended as one more path component.
QUrl add(const QUrl &url, const QString &component);

} // namespace kestrum
