#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Facts about this machine and its user.
namespace Host {

// The hardware model identifier: the DMI product name, at most 255
// characters, or "" when it cannot be read.
QString machineModel();

// The administrators' group: "admin" where it exists, else "sudo", else
// "wheel"; empty when none exists.
QString adminGroupName();

// Whether the current real user's login name is listed among the members
// of the administrators' group. Membership through the primary group alone
// does not count.
bool isUserAdmin();

// The membership rule on its own: byte-wise equality with a listed member.
bool isListedMember(const QByteArray &login, const QList<QByteArray> &members);

// The operating system's version string, as the process information reports it.
QString operatingSystemVersion();

} // namespace Host
} // namespace platform
