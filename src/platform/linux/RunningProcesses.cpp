// Processes are read from /proc: the executable of each is the link
// /proc/PID/exe, which the kernel gives with every link resolved.

#include "platform/RunningProcesses.h"
#include "platform/Volume.h"

#include "platform/linux/Proc.h"

#include <QFile>

#include <climits>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

namespace platform {

std::optional<LogicalPath> executableOf(qint64 pid)
{
    const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(link.constData(), buffer, sizeof buffer);
    if (n <= 0 || n == ssize_t(sizeof buffer))
        return std::nullopt; // a kernel thread, a zombie, another user's process
    QByteArray target(buffer, n);
    // The kernel marks an executable that was unlinked since; a name that
    // merely ends so still has its links. An in-memory one has no path.
    const QByteArray deleted = QByteArrayLiteral(" (deleted)");
    struct stat st;
    if (target.endsWith(deleted) && ::stat(link.constData(), &st) == 0 && st.st_nlink == 0) {
        if (target.startsWith("/memfd:"))
            return std::nullopt;
        target.chop(deleted.size());
    }
    return Volume::current()->logicalPathOfKernelPath(QFile::decodeName(target));
}

namespace {

bool signalProcess(qint64 pid, const LogicalPath &expectedExecutable, int signal, int *error)
{
    const int pidfd = Proc::pidfdOpen(pid);
    if (pidfd < 0) {
        if (error)
            *error = errno;
        return false;
    }
    // Checked while the pidfd holds the process: if the pid was reused
    // before, the other program is seen here; if after, the signal fails.
    const bool same = executableOf(pid) == expectedExecutable;
    const bool sent = same && Proc::pidfdSignal(pidfd, signal);
    if (error)
        *error = sent ? 0 : same ? errno : ESRCH;
    ::close(pidfd);
    return sent;
}

} // namespace

QList<RunningProcess> runningProcesses()
{
    QList<RunningProcess> processes;
    for (qint64 pid : Proc::processIds()) {
        if (std::optional<LogicalPath> executable = executableOf(pid))
            processes.append({pid, std::move(*executable)});
    }
    return processes;
}

bool processExists(qint64 pid)
{
    const int pidfd = Proc::pidfdOpen(pid);
    if (pidfd < 0)
        return errno != ESRCH;
    ::close(pidfd);
    return true;
}

bool terminate(qint64 pid, const LogicalPath &expectedExecutable)
{
    return signalProcess(pid, expectedExecutable, SIGTERM, nullptr);
}

bool forceTerminate(qint64 pid, const LogicalPath &expectedExecutable, int *error)
{
    return signalProcess(pid, expectedExecutable, SIGKILL, error);
}

} // namespace platform
