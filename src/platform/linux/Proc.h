#pragma once

#include <QList>

// The few process questions that DaemonJob and RunningProcesses share on
// Linux. A process is signalled through a pidfd, which names one process for
// good: once the pidfd is held, its pid being reused cannot redirect the
// signal.
namespace platform::Proc {

// The ids of every process of this machine (the numeric entries of /proc),
// ascending.
QList<qint64> processIds();

// A pidfd of the process, or -1.
int pidfdOpen(qint64 pid);

// True when the signal was sent to the pidfd's process.
bool pidfdSignal(int pidfd, int signal);

// A path-less descriptor (O_PATH) of the very file this process runs,
// whatever its path names by now; -1 when it cannot be had.
int openOwnExecutable();

// Waits until the descriptor is readable: a pipe or socket with data or at
// its end, a pidfd whose process has ended (a zombie nobody reaps has ended
// too). False on time-out.
bool readable(int fd, int milliseconds);

} // namespace platform::Proc
