#include "platform/Volume.h"

#include <QDir>

#include <atomic>

namespace platform {

namespace {

// The process's volume. Before configure() it opens nothing: a tool that
// forgot to choose its volume fails, and never works on the machine's disk.
std::atomic<std::shared_ptr<const Volume>> g_current;

// A name of the root in another case, when it has a letter to change.
QString otherCase(const QString &name)
{
    QString other = name;
    for (QChar &c : other) {
        if (c.unicode() < 0x80 && c.isLetter()) {
            c = c.isUpper() ? c.toLower() : c.toUpper();
            return other;
        }
    }
    return {};
}

} // namespace

std::shared_ptr<const Volume> Volume::current()
{
    std::shared_ptr<const Volume> volume = g_current.load();
    if (volume)
        return volume;
    static const std::shared_ptr<const Volume> closed(new Volume);
    return closed;
}

bool Volume::configure(const QString &root, const QString &home, QString *error)
{
    std::shared_ptr<const Volume> volume = open(root, home, error);
    if (!volume)
        return false;
    g_current.store(std::move(volume));
    return true;
}

std::shared_ptr<const Volume> Volume::open(const QString &root, const QString &home, QString *error)
{
    std::shared_ptr<Volume> volume(new Volume);
    volume->m_root = root.isEmpty() ? QStringLiteral("/") : QDir::cleanPath(QDir(root).absolutePath());
    if (!volume->openRoot(error))
        return nullptr;
    volume->learnLayout();
    // The home folder is cleaned with the volume's own rules.
    const QString homeText = home.isEmpty() ? qEnvironmentVariable("HOME") : home;
    volume->m_home = volume->path(homeText).value_or(volume->top());
    return volume;
}

// Which of etc, tmp and var lead into /private here, and whether names are
// looked up without case. Learnt before any path of the volume is made.
void Volume::learnLayout()
{
    const LogicalPath top;   // no rules yet: "/etc" stays "/etc"
    const std::pair<QString, LogicalPath::PrivateLink> links[] = {
        {QStringLiteral("etc"), LogicalPath::Etc}, {QStringLiteral("tmp"), LogicalPath::Tmp},
        {QStringLiteral("var"), LogicalPath::Var}};
    for (const auto &[name, bit] : links) {
        const LogicalPath link = top.child(name);
        const std::optional<ItemStatus> linkStatus = status(link, Follow::NotFinal);
        const std::optional<LogicalPath> target = resolved(link);
        if (linkStatus && linkStatus->isLink() && target
            && target->toString() == QStringLiteral("/private/") + name)
            m_privateLinks |= bit;
    }
    const std::optional<QStringList> names = list(top);
    for (const QString &name : names.value_or(QStringList())) {
        const QString other = otherCase(name);
        if (other.isEmpty() || names->contains(other))
            continue;
        const std::optional<ItemStatus> item = status(top.child(name), Follow::NotFinal);
        const std::optional<ItemStatus> twin = status(top.child(other), Follow::NotFinal);
        m_caseInsensitive = item && twin && item->device == twin->device && item->inode == twin->inode;
        break;
    }
}

std::optional<LogicalPath> Volume::path(QStringView text) const
{
    if (text.isEmpty() || text.contains(QChar(0)) || !text.isValidUtf16())
        return std::nullopt;
    return LogicalPath::clean(text, m_home, m_privateLinks);
}

LogicalPath Volume::top() const
{
    return LogicalPath(QStringLiteral("/"), QStringLiteral("/"), m_privateLinks);
}

QString Volume::expandTilde(const QString &text) const
{
    const std::optional<LogicalPath> expanded = path(text);
    return expanded ? expanded->toString() : QString();
}

QString Volume::physicalPath(const LogicalPath &path) const
{
    if (isRealRoot())
        return path.toString();
    return path.isRoot() ? m_root : m_root + path.toString();
}

std::optional<LogicalPath> Volume::logicalPath(const QString &physical) const
{
    const QString cleaned = QDir::cleanPath(physical);
    if (isRealRoot())
        return path(cleaned);
    if (cleaned == m_root)
        return top();
    if (cleaned.startsWith(m_root + QLatin1Char('/')))
        return path(QStringView(cleaned).mid(m_root.size()));
    return std::nullopt;
}

std::optional<LogicalPath> Volume::logicalPathOfKernelPath(const QString &kernelPath) const
{
    if (m_canonicalRoot == QLatin1String("/"))
        return path(kernelPath);
    if (kernelPath == m_canonicalRoot)
        return top();
    if (kernelPath.startsWith(m_canonicalRoot + QLatin1Char('/')))
        return path(QStringView(kernelPath).mid(m_canonicalRoot.size()));
    return std::nullopt;
}

QList<LogicalPath> volumePaths(const QStringList &texts)
{
    const std::shared_ptr<const Volume> volume = Volume::current();
    QList<LogicalPath> out;
    out.reserve(texts.size());
    for (const QString &text : texts) {
        if (std::optional<LogicalPath> path = volume->path(text))
            out.append(std::move(*path));
    }
    return out;
}

} // namespace platform
