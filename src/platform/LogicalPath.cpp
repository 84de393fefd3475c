#include "platform/LogicalPath.h"

#include "platform/NameFolding.h"

#include <QList>

namespace platform {

namespace {

// Appends the cleaned components of `text` to `out`; ".." pops, but never
// below `floor` components.
void appendComponents(QList<QStringView> &out, QStringView text, qsizetype floor)
{
    for (const QStringView part : text.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == u".")
            continue;
        if (part == u"..") {
            if (out.size() > floor)
                out.removeLast();
            continue;
        }
        out.append(part);
    }
}

// On a Mac volume /etc, /tmp and /var are links into /private: one place,
// one spelling. The name is compared as the volume compares it: "/ETC" is
// "/etc" there.
bool isPrivateLink(QStringView first, quint8 privateLinks)
{
    if (first.size() != 3 || privateLinks == 0)
        return false;
    const std::pair<QStringView, quint8> names[] = {
        {u"etc", LogicalPath::Etc}, {u"tmp", LogicalPath::Tmp}, {u"var", LogicalPath::Var}};
    for (const auto &[name, bit] : names) {
        if (first.compare(name, Qt::CaseInsensitive) == 0)
            return privateLinks & bit;
    }
    return false;
}

QString joined(const QList<QStringView> &parts, quint8 privateLinks)
{
    if (parts.isEmpty())
        return QStringLiteral("/");
    qsizetype length = 0;
    for (const QStringView part : parts)
        length += part.size() + 1;
    const bool addPrivate = isPrivateLink(parts.first(), privateLinks);
    QString out;
    out.reserve(length + (addPrivate ? 8 : 0));
    if (addPrivate)
        out += QLatin1String("/private");
    for (const QStringView part : parts) {
        out += QLatin1Char('/');
        out += part;
    }
    return out;
}

// One test for UTF-16 text and UTF-8 bytes alike.
template<typename View, typename Unit>
bool isPlain(View text, Unit dot, Unit slash)
{
    const bool dots = text.size() <= 2 && text.count(dot) == text.size();   // "", "." and ".."
    return !dots && !text.contains(slash);
}

} // namespace

LogicalPath::LogicalPath(QString cleaned, quint8 privateLinks)
    : m_path(std::move(cleaned))
    , m_key(foldedName(m_path))
    , m_privateLinks(privateLinks)
{
}

bool LogicalPath::isClean(QStringView text, quint8 privateLinks)
{
    const qsizetype n = text.size();
    if (n == 1)
        return text.at(0) == QLatin1Char('/');
    if (n < 2 || text.at(0) != QLatin1Char('/') || text.at(n - 1) == QLatin1Char('/'))
        return false;
    for (qsizetype i = 0; i < n; ++i) {
        // i is at a slash; find the component after it.
        qsizetype end = i + 1;
        while (end < n && text.at(end) != QLatin1Char('/'))
            ++end;
        const QStringView part = text.mid(i + 1, end - i - 1);
        if (part.isEmpty() || part == u"." || part == u"..")
            return false;
        if (i == 0 && isPrivateLink(part, privateLinks))
            return false;
        i = end - 1;
    }
    return true;
}

LogicalPath LogicalPath::clean(QStringView text, const LogicalPath &home, quint8 privateLinks)
{
    if (isClean(text, privateLinks))
        return LogicalPath(text.toString(), privateLinks);
    QList<QStringView> parts;
    if (text == u"~" || text.startsWith(u"~/")) {
        appendComponents(parts, home.m_path, 0);
        text = text.mid(1);
    }
    appendComponents(parts, text, 0);
    return LogicalPath(joined(parts, privateLinks), privateLinks);
}

LogicalPath LogicalPath::child(QStringView relative) const
{
    // The common case, a clean name or relative path from a bill, needs no
    // splitting.
    if (isPlainName(relative))
        return childNamed(relative);
    if (!relative.isEmpty()) {
        LogicalPath joined = appended(relative);
        if (isClean(joined.m_path, m_privateLinks))
            return joined;
    }
    return childTheLongWay(relative);
}

LogicalPath LogicalPath::childNamed(QStringView name) const
{
    // A plain name below this clean folder needs no check, unless it leads
    // from "/" into "/private".
    return isRoot() && isPrivateLink(name, m_privateLinks) ? childTheLongWay(name) : appended(name);
}

LogicalPath LogicalPath::appended(QStringView relative) const
{
    QString path;
    path.reserve(m_path.size() + 1 + relative.size());
    if (!isRoot())
        path += m_path;
    path += QLatin1Char('/');
    path += relative;
    // Folding keeps every "/", so the child's key is the folder's key and
    // the folded relative part.
    QString key;
    key.reserve(path.size());
    if (!isRoot())
        key += m_key;
    key += QLatin1Char('/');
    appendFoldedName(relative, key);
    return LogicalPath(std::move(path), std::move(key), m_privateLinks);
}

LogicalPath LogicalPath::childTheLongWay(QStringView relative) const
{
    QList<QStringView> parts;
    appendComponents(parts, m_path, 0);
    const qsizetype floor = parts.size();
    appendComponents(parts, relative, floor);
    // A child of "/" that names "etc" becomes "/private/etc"; below any
    // other folder the first component stays what it is.
    return LogicalPath(joined(parts, m_privateLinks), m_privateLinks);
}

bool LogicalPath::isPlainName(QStringView text)
{
    return isPlain(text, QLatin1Char('.'), QLatin1Char('/'));
}

bool LogicalPath::isPlainName(QByteArrayView utf8)
{
    return isPlain(utf8, '.', '/');
}

LogicalPath LogicalPath::parent() const
{
    const qsizetype slash = m_path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return LogicalPath(QStringLiteral("/"), QStringLiteral("/"), m_privateLinks);
    // Folding keeps every "/", so the key's last one ends the same folder.
    return LogicalPath(m_path.left(slash), m_key.left(m_key.lastIndexOf(QLatin1Char('/'))), m_privateLinks);
}

QStringView LogicalPath::name() const
{
    return QStringView(m_path).mid(m_path.lastIndexOf(QLatin1Char('/')) + 1);
}

bool LogicalPath::isChildOf(const LogicalPath &folder) const
{
    const qsizetype slash = m_key.lastIndexOf(QLatin1Char('/'));
    if (folder.isRoot())
        return slash == 0 && !isRoot();
    return slash == folder.m_key.size() && m_key.startsWith(folder.m_key);
}

bool LogicalPath::isWithin(const LogicalPath &folder) const
{
    if (folder.isRoot())
        return true;
    return m_key.startsWith(folder.m_key)
           && (m_key.size() == folder.m_key.size() || m_key.at(folder.m_key.size()) == QLatin1Char('/'));
}

QStringList toStrings(const QList<LogicalPath> &paths)
{
    QStringList out;
    out.reserve(paths.size());
    for (const LogicalPath &path : paths)
        out.append(path.toString());
    return out;
}

} // namespace platform
