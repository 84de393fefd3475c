#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace kestrum {

// Questions about the machine the program runs on. Class operations only.
class RvHostInformation
{
public:
    RvHostInformation() = delete;

    // The hardware model identifier, or "".
    static QString machineType();
    // Whether the login user is listed in the administrators' group.
    static bool isUserAdmin();

    // The address of the first network interface that is up, not a loopback
    // ("lo...") and of the wanted family; "::1" or "127.0.0.1" when none is.
    // When the interface list cannot be read at all, prints
    // "getifaddrs: <reason>" and ends the process with status 1.
    static QString ipAddress(bool ipv6);

    // One entry of the interface list, as the choice of ipAddress sees it.
    struct InterfaceAddress
    {
        QString name;
        unsigned flags = 0;              // IFF_UP is bit 0
        int family = -1;                 // AF_INET, AF_INET6; -1: the entry has no address
        std::optional<QString> text;     // the address as text; nothing when it could not be converted
    };
    // The choice on its own: the first entry that has an address, is up, is
    // of the wanted family, could be converted and is not named "lo...".
    static QString chooseAddress(const QList<InterfaceAddress> &entries, bool ipv6);

    // The disk number of the device the root file system is mounted from
    // ("/dev/disk1s1" is 1), or -1. A number once found is kept for the
    // process; -1 is never kept, so the next call looks again.
    static qint64 bootDiskBSDNum();
    // The same rule with the cache and the device lookup given, for tests:
    // `cache` holds -100 until a number is found.
    static qint64 bootDiskBSDNum(qint64 &cache, const std::function<QString()> &rootDevice);
    // The number in a device name, or -1 when it is no "/dev/disk" device.
    static qint64 diskNumberOfDevice(const QString &device);
    // The device "/" is mounted from, from the mount table (Linux's statfs
    // does not name it); "" when it cannot be read.
    static QString rootDevice();

    // The installed Growl application, first of "/Applications/Growl.app",
    // the user's and then the local preference pane's helper; logical file
    // URLs on the volume. Empty when none exists.
    static QUrl growlInstallURL();

    // Adds a disk to the list, or when entries with that "DiskNumber" are
    // there already, puts the name in front of each of their "DiskName"s.
    // A new entry is named "name (detail)", or "name" when `detail` is null.
    static void _addDiskToList(QList<QVariantMap> &list, qint64 number, const QString &name, const QString &detail);
};

} // namespace kestrum
