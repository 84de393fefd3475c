#include "dorvane/uninstall/ProcessLister.h"

#include "dorvane/toolclient/HelperInstaller.h"
#include "platform/Volume.h"

namespace dorvane {

QString ProcessLister::path()
{
    return HelperInstaller::bundlePath() + QStringLiteral("/Contents/SharedSupport/bin/dorvane-ps");
}

QStringList ProcessLister::launchArguments()
{
    return {path(), QStringLiteral("--root"), platform::Volume::current()->root(), QStringLiteral("ax"),
            QStringLiteral("-opid,comm")};
}

} // namespace dorvane
