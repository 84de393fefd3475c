#include "DiskWriter.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace volumegen {

namespace {

QByteArray parentOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

// A link the writer may pass through: relative, and never climbing.
bool isInnerLink(const QByteArray &physical)
{
    char target[4096];
    const ssize_t n = ::readlink(physical.constData(), target, sizeof target - 1);
    if (n <= 0)
        return false;
    const QByteArray text(target, n);
    return !text.startsWith('/') && !text.split('/').contains("..");
}

} // namespace

DiskWriter::DiskWriter(const QString &physicalRoot)
    : m_root(QDir::cleanPath(physicalRoot))
{
    m_folders.insert(QFile::encodeName(m_root));
}

QString DiskWriter::physicalPath(const QString &root, const QString &logical)
{
    // Lexical, and ".." never climbs above the root.
    QStringList parts;
    for (const QString &part : logical.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty())   // at the root ".." stays there
                parts.removeLast();
        } else if (part != QLatin1String("."))
            parts << part;
    }
    const QString base = QDir::cleanPath(root);
    return parts.isEmpty() ? base : base + QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

bool DiskWriter::fail(const QString &what, const QByteArray &physical, int error)
{
    m_error = QStringLiteral("cannot %1 %2: %3").arg(what, QFile::decodeName(physical), QString::fromLocal8Bit(std::strerror(error)));
    return false;
}

bool DiskWriter::ensureFolder(const QByteArray &physical)
{
    if (m_folders.contains(physical))
        return true;
    // Every component is checked once, the root being known: a link planted
    // anywhere on the way is judged before anything is made through it.
    if (physical.size() <= 1)   // walked up past the root: not below it at all
        return fail(QStringLiteral("make the folder"), physical, EACCES);
    if (!ensureFolder(parentOf(physical)))
        return false;
    if (::mkdir(physical.constData(), 0755) != 0) {
        if (errno != EEXIST)
            return fail(QStringLiteral("make the folder"), physical, errno);
        struct stat st;
        if (::lstat(physical.constData(), &st) != 0)
            return fail(QStringLiteral("read"), physical, errno);
        if (S_ISLNK(st.st_mode)) {
            if (!isInnerLink(physical) || ::stat(physical.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
                return fail(QStringLiteral("pass through the link"), physical, ENOTDIR);
        } else if (!S_ISDIR(st.st_mode)) {
            return fail(QStringLiteral("make the folder"), physical, ENOTDIR);
        }
    }
    m_folders.insert(physical);
    return true;
}

bool DiskWriter::makeFolder(const QString &logical)
{
    return ensureFolder(QFile::encodeName(physicalPath(logical)));
}

bool DiskWriter::makeFile(const QString &logical, quint64 size, const QByteArray *contents, bool executable)
{
    const QByteArray path = QFile::encodeName(physicalPath(logical));
    if (!ensureFolder(parentOf(path)))
        return false;
    struct stat st;
    if (::lstat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return fail(QStringLiteral("make the file"), path, EEXIST);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                          executable ? 0755 : 0644);
    if (fd < 0)
        return fail(QStringLiteral("make the file"), path, errno);
    bool ok = true;
    if (contents) {
        const char *data = contents->constData();
        qsizetype left = contents->size();
        while (ok && left > 0) {
            const ssize_t n = ::write(fd, data, size_t(left));
            ok = n > 0;
            data += n;
            left -= n;
        }
    } else {
        // A sparse file: the size costs no disk space.
        ok = ::ftruncate(fd, off_t(size)) == 0;
    }
    const int error = errno;
    ::close(fd);
    return ok || fail(QStringLiteral("write"), path, error);
}

bool DiskWriter::makeLink(const QString &logical, const QString &target)
{
    const QByteArray path = QFile::encodeName(physicalPath(logical));
    if (!ensureFolder(parentOf(path)))
        return false;
    struct stat st;
    if (::lstat(path.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return fail(QStringLiteral("make the link"), path, EISDIR);
        ::unlink(path.constData());
    }
    m_folders.remove(path);   // whatever it was, it must be judged again before use
    if (::symlink(QFile::encodeName(target).constData(), path.constData()) != 0)
        return fail(QStringLiteral("make the link"), path, errno);
    return true;
}

} // namespace volumegen
