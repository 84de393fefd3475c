#include "platform/linux/Proc.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>

#include <QDir>

#include <algorithm>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform::Proc {

QList<qint64> processIds()
{
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (numeric)
            pids.append(pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

int pidfdOpen(qint64 pid)
{
    return int(::syscall(SYS_pidfd_open, pid_t(pid), 0));
}

bool pidfdSignal(int pidfd, int signal)
{
    return ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
}

int openOwnExecutable()
{
    return ::open("/proc/self/exe", O_PATH | O_CLOEXEC);
}

bool readable(int fd, int milliseconds)
{
    pollfd entry{fd, POLLIN, 0};
    int ready;
    do
        ready = ::poll(&entry, 1, milliseconds);
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

} // namespace platform::Proc
