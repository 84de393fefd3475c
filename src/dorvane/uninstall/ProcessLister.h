#pragma once

#include <QString>
#include <QStringList>

namespace dorvane {

// The process lister shipped in the bundle, which prints what the Mac's
// "/bin/ps ax -opid,comm" prints (each process with its executable's full
// path) for the processes running from the volume.
class ProcessLister
{
public:
    static QString path();

    // The lister with its arguments for the configured volume, to be run
    // with kestrum::runAsTask().
    static QStringList launchArguments();
};

} // namespace dorvane
