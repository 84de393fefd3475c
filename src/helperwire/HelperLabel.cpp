#include "helperwire/HelperLabel.h"

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
    return platform::LogicalPath::make(QStringLiteral("/Library/PrivilegedHelperTools/") + helperLabel());
}

platform::LogicalPath jobPlistPath()
{
    return platform::LogicalPath::make(QStringLiteral("/Library/LaunchDaemons/") + helperLabel()
                                       + QStringLiteral(".plist"));
}

platform::LogicalPath socketPath()
{
    return platform::LogicalPath::make(QStringLiteral("/private/var/run/") + helperLabel()
                                       + QStringLiteral(".socket"));
}

platform::LogicalPath pidFilePath()
{
    return platform::LogicalPath::make(QStringLiteral("/private/var/run/") + helperLabel() + QStringLiteral(".pid"));
}

} // namespace helperwire
