#pragma once

#include <QString>
#include <QStringList>

namespace dorvane {

// Whether System Integrity Protection guards the system folders. On a Mac
// "csrutil status" tells; where the tool cannot start (as on Linux) the
// protection counts as in force, and the item's own flag alone decides.
namespace ProtectionStatus {

// The first interface-library version with the protection (OS X 10.11).
inline constexpr double kFirstRootlessAppKit = 1404.0;
// What this platform reports: a modern system.
inline constexpr double kPlatformAppKitVersion = 2487.0;

bool isRootlessFromOutput(const QString &toolOutput);

bool isRootless(double appKitVersion = kPlatformAppKitVersion,
                const QStringList &tool = {QStringLiteral("/usr/bin/csrutil"), QStringLiteral("status")});

} // namespace ProtectionStatus
} // namespace dorvane
