#include "platform/Volume.h"

#include "platform/VolumeRoot.h"

#include <QDir>

namespace platform {

namespace {

QString g_root = QStringLiteral("/");
std::optional<LogicalPath> g_home;
// Which of etc, tmp and var lead into /private on this volume.
bool g_privateEtc = false;
bool g_privateTmp = false;
bool g_privateVar = false;
bool g_caseInsensitive = false;

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

bool looksUpWithoutCase()
{
    const std::optional<QStringList> names = Volume::list(LogicalPath());
    for (const QString &name : names.value_or(QStringList())) {
        const QString other = otherCase(name);
        if (other.isEmpty() || names->contains(other))
            continue;
        const std::optional<ItemStatus> item = Volume::status(LogicalPath().child(name), Follow::NotFinal);
        const std::optional<ItemStatus> twin = Volume::status(LogicalPath().child(other), Follow::NotFinal);
        return item && twin && item->device == twin->device && item->inode == twin->inode;
    }
    return false;
}

} // namespace

bool Volume::configure(const QString &root, const QString &home, QString *error)
{
    g_root = root.isEmpty() ? QStringLiteral("/") : QDir::cleanPath(QDir(root).absolutePath());
    g_home.reset();
    g_privateEtc = g_privateTmp = g_privateVar = g_caseInsensitive = false;
    if (!VolumeRoot::open(g_root, error))
        return false;
    // Learnt before the home folder is cleaned, which may use them.
    const auto leadsIntoPrivate = [](const char *name) {
        const LogicalPath link = LogicalPath::make(QLatin1String("/") + QLatin1String(name), LogicalPath());
        const std::optional<ItemStatus> linkStatus = status(link, Follow::NotFinal);
        const std::optional<LogicalPath> target = resolved(link);
        return linkStatus && linkStatus->isLink() && target
               && target->toString() == QLatin1String("/private/") + QLatin1String(name);
    };
    g_privateEtc = leadsIntoPrivate("etc");
    g_privateTmp = leadsIntoPrivate("tmp");
    g_privateVar = leadsIntoPrivate("var");
    g_caseInsensitive = looksUpWithoutCase();
    if (!home.isEmpty())
        g_home = LogicalPath::make(home, LogicalPath());
    return true;
}

bool Volume::hasPrivateLink(QStringView name)
{
    return name == u"etc" ? g_privateEtc : name == u"tmp" ? g_privateTmp : name == u"var" ? g_privateVar : false;
}

bool Volume::isCaseInsensitive()
{
    return g_caseInsensitive;
}

QString Volume::root()
{
    return g_root;
}

bool Volume::isRealRoot()
{
    return g_root == QLatin1String("/");
}

LogicalPath Volume::home()
{
    if (g_home)
        return *g_home;
    return LogicalPath::make(qEnvironmentVariable("HOME"), LogicalPath());
}

QString Volume::expandTilde(const QString &text)
{
    return LogicalPath::make(text).toString();
}

QString Volume::physicalPath(const LogicalPath &path)
{
    if (isRealRoot())
        return path.toString();
    return path.isRoot() ? g_root : g_root + path.toString();
}

std::optional<LogicalPath> Volume::logicalPath(const QString &physical)
{
    const QString cleaned = QDir::cleanPath(physical);
    if (isRealRoot())
        return LogicalPath::make(cleaned, LogicalPath());
    if (cleaned == g_root)
        return LogicalPath();
    if (cleaned.startsWith(g_root + QLatin1Char('/')))
        return LogicalPath::make(QStringView(cleaned).mid(g_root.size()), LogicalPath());
    return std::nullopt;
}

} // namespace platform
