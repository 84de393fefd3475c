#include "KeepAlive.h"

#include "ToolLog.h"
#include "helperwire/HelperLabel.h"
#include "platform/Volume.h"
#include "platform/linux/Proc.h"

#include <QElapsedTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char **environ;

namespace helpertool {

namespace {

using platform::Follow;
using platform::Volume;

constexpr int kListenDescriptor = 3;
constexpr qint64 kSteadyMilliseconds = 10000;   // a run this long was no failed start
constexpr int kQuickEnds = 5;                    // early ends in a row before the keeper gives up

// Between fork and exec only async-signal-safe calls.
pid_t spawn(int tool, int listener, char **argv)
{
    const pid_t child = ::fork();
    if (child != 0)
        return child;
    if (listener == kListenDescriptor)
        ::fcntl(listener, F_SETFD, 0);
    else
        ::dup2(listener, kListenDescriptor);
    ::execveat(tool, "", argv, environ, AT_EMPTY_PATH);
    ::_exit(127);
}

// Connections made to the dead server end with it, the queued ones too: a
// client hears that its request was interrupted (it may have been half
// done) and its next request, on a new connection, reaches the new server.
// All are taken before any is closed, so that no client's next connection
// is taken for one of them.
void dropQueued(int listener)
{
    std::vector<int> queued;
    while (platform::Proc::readable(listener, 0)) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            break;
        queued.push_back(fd);
    }
    for (int fd : queued)
        ::close(fd);
}

QString describeEnd(int status)
{
    return WIFSIGNALED(status) ? QStringLiteral("was killed by signal %1").arg(WTERMSIG(status))
                               : QStringLiteral("failed with status %1").arg(WEXITSTATUS(status));
}

} // namespace

int keepAlive(char **serverArguments)
{
    const int tool = platform::Proc::openOwnExecutable();
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    const int stopSignals = ::signalfd(-1, &mask, SFD_CLOEXEC);
    const platform::LogicalPath socket = helperwire::socketPath();
    QString error;
    const int listener = tool >= 0 && stopSignals >= 0 && Volume::current()->makeFolders(socket.parent(), &error)
                             ? Volume::current()->listenOnSocket(socket, &error)
                             : -1;
    if (listener < 0) {
        toolLog(LogError, QStringLiteral("cannot keep the service: %1")
                              .arg(error.isEmpty() ? QString::fromLocal8Bit(std::strerror(errno)) : error));
        return 1;
    }
    const std::optional<platform::ItemStatus> ours = Volume::current()->status(socket, Follow::NotFinal);
    int result = 0;
    for (int quickEnds = 0;;) {
        QElapsedTimer ran;
        ran.start();
        const pid_t server = spawn(tool, listener, serverArguments);
        const int pidfd = server > 0 ? platform::Proc::pidfdOpen(server) : -1;
        if (pidfd < 0) {
            toolLog(LogError, QStringLiteral("cannot start the service: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            result = 1;
            break;
        }
        pollfd fds[2] = {{stopSignals, POLLIN, 0}, {pidfd, POLLIN, 0}};
        while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
        }
        const bool stopping = fds[0].revents != 0;
        if (stopping)
            platform::Proc::pidfdSignal(pidfd, SIGTERM);
        ::close(pidfd);
        int status = 0;
        while (::waitpid(server, &status, 0) < 0 && errno == EINTR) {
        }
        if (stopping || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
            break;
        dropQueued(listener);
        quickEnds = ran.elapsed() < kSteadyMilliseconds ? quickEnds + 1 : 1;
        if (quickEnds > kQuickEnds) {
            toolLog(LogError, QStringLiteral("the service %1, the %2th time in a row soon after its start; not starting it again")
                                  .arg(describeEnd(status)).arg(quickEnds));
            result = 1;
            break;
        }
        toolLog(LogWarning, QStringLiteral("the service %1; starting it again").arg(describeEnd(status)));
        // The first restart at once; then pauses of 0.25, 0.5, 1 and 2 s.
        if (quickEnds > 1 && platform::Proc::readable(stopSignals, 250 << (quickEnds - 2)))
            break;
    }
    ::close(listener);
    if (const std::optional<platform::ItemStatus> now = Volume::current()->status(socket, Follow::NotFinal);
        ours && now && ours->device == now->device && ours->inode == now->inode)
        Volume::current()->removeItem(socket);
    return result;
}

} // namespace helpertool
