#include "platform/Host.h"

#include <QFile>
#include <QSysInfo>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace platform::Host {

QString machineModel()
{
    QFile file(QStringLiteral("/sys/class/dmi/id/product_name"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // The Mac reads the model into a 256-byte buffer and keeps 255 characters.
    return QString::fromUtf8(file.read(255)).trimmed();
}

QString adminGroupName()
{
    for (const char *name : {"admin", "sudo", "wheel"}) {
        if (::getgrnam(name))
            return QString::fromLatin1(name);
    }
    return QString();
}

bool isListedMember(const QByteArray &login, const QList<QByteArray> &members)
{
    if (login.isEmpty())
        return false;
    for (const QByteArray &member : members) {
        if (member == login)
            return true;
    }
    return false;
}

bool isUserAdmin()
{
    const struct passwd *user = ::getpwuid(::getuid());
    if (!user || !user->pw_name)
        return false;
    const QByteArray login(user->pw_name);
    const QString groupName = adminGroupName();
    if (groupName.isEmpty())
        return false;
    const struct group *group = ::getgrnam(groupName.toLatin1().constData());
    if (!group || !group->gr_mem)
        return false;
    QList<QByteArray> members;
    for (char **member = group->gr_mem; *member; ++member)
        members.append(QByteArray(*member));
    return isListedMember(login, members);
}

QString operatingSystemVersion()
{
    return QSysInfo::prettyProductName();
}

} // namespace platform::Host
