#include "platform/Volume.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString g_root = QStringLiteral("/");
QString g_home;

// Symbolic links followed while resolving one path, as the kernel allows.
constexpr int kMaxLinks = 40;

QString cleanLogical(const QString &path)
{
    if (path.isEmpty())
        return path;
    const bool trailingSlash = path.size() > 1 && path.endsWith(QLatin1Char('/'));
    QStringList out;
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!out.isEmpty())
                out.removeLast();
            continue;
        }
        out.append(part);
    }
    QString result = QLatin1Char('/') + out.join(QLatin1Char('/'));
    if (trailingSlash && result.size() > 1)
        result += QLatin1Char('/');
    return result;
}

QString joinRoot(const QString &cleanedLogical)
{
    if (g_root == QLatin1String("/"))
        return cleanedLogical;
    if (cleanedLogical == QLatin1String("/"))
        return g_root;
    return g_root + cleanedLogical;
}

} // namespace

void Volume::configure(const QString &root, const QString &home)
{
    QString r = root.isEmpty() ? QStringLiteral("/") : QDir::cleanPath(QDir(root).absolutePath());
    g_root = r;
    g_home = home.isEmpty() ? QString() : cleanLogical(home);
}

QString Volume::root()
{
    return g_root;
}

bool Volume::isRealRoot()
{
    return g_root == QLatin1String("/");
}

QString Volume::home()
{
    if (!g_home.isEmpty())
        return g_home;
    const QString env = qEnvironmentVariable("HOME");
    return env.isEmpty() ? QStringLiteral("/") : cleanLogical(env);
}

QString Volume::expandTilde(const QString &logical)
{
    if (logical == QLatin1String("~"))
        return home();
    if (logical.startsWith(QLatin1String("~/")))
        return cleanLogical(home() + logical.mid(1));
    if (!logical.startsWith(QLatin1Char('/')))
        return cleanLogical(QLatin1Char('/') + logical);
    return cleanLogical(logical);
}

QString Volume::physicalPath(const QString &logical)
{
    if (logical.isEmpty())
        return QString();
    return joinRoot(expandTilde(logical));
}

QString Volume::logicalPath(const QString &physical)
{
    const QString cleaned = QDir::cleanPath(physical);
    if (g_root == QLatin1String("/"))
        return cleaned;
    if (cleaned == g_root)
        return QStringLiteral("/");
    if (cleaned.startsWith(g_root + QLatin1Char('/')))
        return cleaned.mid(g_root.size());
    return QString();
}

QString Volume::resolvedLogicalPath(const QString &logical, bool followFinal)
{
    if (logical.isEmpty())
        return QString();
    const QString expanded = expandTilde(logical);
    const bool trailingSlash = expanded.size() > 1 && expanded.endsWith(QLatin1Char('/'));

    // Walk component by component; a link's target is spliced in front of
    // what is left, so a chain of links resolves like the kernel does it.
    QStringList pending = expanded.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    std::reverse(pending.begin(), pending.end());
    QStringList done;
    int links = 0;
    bool missing = false;

    while (!pending.isEmpty()) {
        const QString part = pending.takeLast();
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!done.isEmpty())
                done.removeLast();
            continue;
        }
        done.append(part);
        const bool isFinal = pending.isEmpty();
        if (missing || (isFinal && !followFinal && !trailingSlash))
            continue;

        const QByteArray physical = QFile::encodeName(joinRoot(QLatin1Char('/') + done.join(QLatin1Char('/'))));
        struct stat st;
        if (::lstat(physical.constData(), &st) != 0) {
            missing = true; // the rest cannot contain links
            continue;
        }
        if (!S_ISLNK(st.st_mode))
            continue;
        if (++links > kMaxLinks)
            return QString();
        QByteArray buffer(4096, Qt::Uninitialized);
        const ssize_t n = ::readlink(physical.constData(), buffer.data(), buffer.size());
        if (n <= 0)
            continue;
        const QString linkText = QFile::decodeName(buffer.left(n));
        done.removeLast();
        if (linkText.startsWith(QLatin1Char('/')))
            done.clear();
        QStringList targetParts = linkText.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        for (auto it = targetParts.crbegin(); it != targetParts.crend(); ++it)
            pending.append(*it);
    }
    QString result = QLatin1Char('/') + done.join(QLatin1Char('/'));
    if (trailingSlash && result.size() > 1)
        result += QLatin1Char('/');
    return result;
}

QString Volume::resolvedPhysicalPath(const QString &logical, bool followFinal)
{
    const QString resolved = resolvedLogicalPath(logical, followFinal);
    return resolved.isEmpty() ? QString() : joinRoot(resolved);
}

} // namespace platform
