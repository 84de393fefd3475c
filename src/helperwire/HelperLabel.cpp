#include "helperwire/HelperLabel.h"

#include "platform/Volume.h"

namespace helperwire {

QString helperLabel()
{
    return QStringLiteral(DORVANE_HELPER_LABEL);
}

QString shippedToolRelativePath()
{
    return QStringLiteral("Contents/Library/LaunchServices/") + helperLabel();
}

platform::LogicalPath installedToolPath()
{
    return platform::Volume::current()->top().child(QStringLiteral("Library/PrivilegedHelperTools/") + helperLabel());
}

platform::LogicalPath jobPlistPath()
{
    return platform::Volume::current()->top().child(QStringLiteral("Library/LaunchDaemons/") + helperLabel()
                                                    + QStringLiteral(".plist"));
}

platform::LogicalPath socketPath()
{
    return platform::Volume::current()->top().child(QStringLiteral("private/var/run/") + helperLabel()
                                                    + QStringLiteral(".socket"));
}

platform::LogicalPath pidFilePath()
{
    return platform::Volume::current()->top().child(QStringLiteral("private/var/run/") + helperLabel()
                                                    + QStringLiteral(".pid"));
}

platform::LogicalPath quarantinePath()
{
    return platform::Volume::current()->top().child(QStringLiteral("private/var/db/") + helperLabel()
                                                    + QStringLiteral("/Quarantine"));
}

} // namespace helperwire
