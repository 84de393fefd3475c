#include "kestrum/RvHostInformation.h"

#include "kestrum/FileSystem.h"
#include "kestrum/Format.h"
#include "kestrum/Kestrum.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <mntent.h>
#include <net/if.h>
#include <netinet/in.h>

namespace kestrum {

namespace {

constexpr qint64 kUndetermined = -100;

// Written without a lock, as on the Mac: concurrent first calls compute the
// same number.
qint64 g_bootDiskNumber = kUndetermined;

// The text form of an address, in a buffer of 64 characters as the Mac's.
std::optional<QString> addressText(const sockaddr *address)
{
    char text[64];
    const void *raw = nullptr;
    if (address->sa_family == AF_INET)
        raw = &reinterpret_cast<const sockaddr_in *>(address)->sin_addr;
    else if (address->sa_family == AF_INET6)
        raw = &reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr;
    if (!raw || !::inet_ntop(address->sa_family, raw, text, sizeof text))
        return std::nullopt;
    return QString::fromLatin1(text);
}

} // namespace

QString RvHostInformation::machineType()
{
    return _machineType();
}

bool RvHostInformation::isUserAdmin()
{
    return _isUserAdmin();
}

QString RvHostInformation::chooseAddress(const QList<InterfaceAddress> &entries, bool ipv6)
{
    const int wanted = ipv6 ? AF_INET6 : AF_INET;
    for (const InterfaceAddress &entry : entries) {
        if (entry.family < 0 || !(entry.flags & IFF_UP) || entry.family != wanted)
            continue;
        if (!entry.text || entry.name.startsWith(QLatin1String("lo")))
            continue;
        return *entry.text;
    }
    return ipv6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1");
}

QString RvHostInformation::ipAddress(bool ipv6)
{
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0) {
        std::perror("getifaddrs");
        std::exit(1);
    }
    QList<InterfaceAddress> entries;
    for (const ifaddrs *it = list; it; it = it->ifa_next) {
        InterfaceAddress entry;
        entry.name = QString::fromLocal8Bit(it->ifa_name);
        entry.flags = it->ifa_flags;
        if (it->ifa_addr) {
            entry.family = it->ifa_addr->sa_family;
            entry.text = addressText(it->ifa_addr);
        }
        entries.append(entry);
    }
    ::freeifaddrs(list);
    return chooseAddress(entries, ipv6);
}

qint64 RvHostInformation::diskNumberOfDevice(const QString &device)
{
    static const QLatin1String prefix("/dev/disk");
    if (!device.startsWith(prefix))
        return -1;
    // "1s1" is disk 1, slice 1; the number is read as the Mac's intValue
    // reads it, so "x" is 0.
    return Kestrum::parseBuildNumber(device.mid(prefix.size()).section(QLatin1Char('s'), 0, 0));
}

QString RvHostInformation::rootDevice()
{
    FILE *table = ::setmntent("/proc/self/mounts", "r");
    if (!table)
        return QString();
    QString device;
    mntent entry {};
    char buffer[4096];
    // A later mount on "/" hides the earlier ones, so the last one counts.
    while (::getmntent_r(table, &entry, buffer, sizeof buffer)) {
        if (qstrcmp(entry.mnt_dir, "/") == 0)
            device = QFile::decodeName(entry.mnt_fsname);
    }
    ::endmntent(table);
    return device;
}

qint64 RvHostInformation::bootDiskBSDNum(qint64 &cache, const std::function<QString()> &rootDevice)
{
    if (cache != kUndetermined)
        return cache;
    const qint64 number = diskNumberOfDevice(rootDevice());
    if (number != -1)
        cache = number;
    return number;
}

qint64 RvHostInformation::bootDiskBSDNum()
{
    return bootDiskBSDNum(g_bootDiskNumber, &RvHostInformation::rootDevice);
}

QUrl RvHostInformation::growlInstallURL()
{
    for (const char *path : {"/Applications/Growl.app",
                             "~/Library/PreferencePanes/Growl.prefPane/Contents/Resources/GrowlHelperApp.app",
                             "/Library/PreferencePanes/Growl.prefPane/Contents/Resources/GrowlHelperApp.app"}) {
        const QString logical = expanded(QString::fromLatin1(path));
        if (fileExists(logical))
            return fileURL(logical);
    }
    return QUrl();
}

void RvHostInformation::_addDiskToList(QList<QVariantMap> &list, qint64 number, const QString &name,
                                       const QString &detail)
{
    const QString numberKey = QStringLiteral("DiskNumber");
    const QString nameKey = QStringLiteral("DiskName");
    bool found = false;
    for (QVariantMap &entry : list) {
        if (QVariant::compare(entry.value(numberKey), QVariant(number)) != QPartialOrdering::Equivalent)
            continue;
        entry[nameKey] = makeString("%@, %@", name, entry.value(nameKey));
        found = true;
    }
    if (found)
        return;
    QVariantMap entry;
    entry[numberKey] = number;
    entry[nameKey] = detail.isNull() ? name : makeString("%@ (%@)", name, detail);
    list.append(entry);
}

} // namespace kestrum
