#pragma once

#include "platform/LogicalPath.h"

#include <QList>

#include <optional>

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

// The logical path of the process's executable, as runningProcesses()
// names it; nothing for a process that is gone, not seen or off the volume.
std::optional<LogicalPath> executableOf(qint64 pid);

// Whether a process of that number exists now (it may be anybody's).
bool processExists(qint64 pid);

// Asks the process to quit (SIGTERM) or ends it at once, without letting it
// save (SIGKILL). The process is held by a pidfd first and its executable
// checked afterwards, so a pid reused meanwhile by another program is never
// hit. Both return at once; true when the signal was sent. *error is then
// 0, else the errno: ESRCH when the process is gone or runs another program.
bool terminate(qint64 pid, const LogicalPath &expectedExecutable);
bool forceTerminate(qint64 pid, const LogicalPath &expectedExecutable, int *error = nullptr);

} // namespace platform
