#include "dorvane/ProtectionStatus.h"

#include "kestrum/Task.h"

namespace dorvane::ProtectionStatus {

bool isRootlessFromOutput(const QString &toolOutput)
{
    return !toolOutput.contains(QLatin1String("Filesystem Protections: disabled"));
}

bool isRootless(double appKitVersion, const QStringList &tool)
{
    if (appKitVersion < kFirstRootlessAppKit)
        return false;
    return isRootlessFromOutput(kestrum::runAsTask(tool).value_or(QString()));
}

} // namespace dorvane::ProtectionStatus
