#pragma once

#include "platform/LogicalPath.h"

#include <QList>

namespace platform {

// A process of this machine whose executable lies on the volume.
struct RunningProcess
{
    qint64 pid = 0;
    LogicalPath executable;
};

// Every process whose executable lies on the volume, by pid, named by the
// logical path of its executable. Kernel threads, zombies, processes whose
// executable this user may not see and processes run from outside the
// volume root are left out. An executable removed or replaced since the
// process started is named by the path it was started from.
QList<RunningProcess> runningProcesses();

// Asks the process to quit (SIGTERM) or ends it at once, without letting it
// save (SIGKILL). The process is held by a pidfd first and its executable
// checked afterwards, so a pid reused meanwhile by another program is never
// hit. Both return at once; true when the signal was sent.
bool terminate(qint64 pid, const LogicalPath &expectedExecutable);
bool forceTerminate(qint64 pid, const LogicalPath &expectedExecutable);

} // namespace platform
