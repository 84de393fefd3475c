#include "kestrum/Task.h"

#include <QByteArray>
#include <QFile>
#include <QStringDecoder>

#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace kestrum {

namespace {

// The pipe's ends are close-on-exec, so that a tool started at the same time
// from another thread never inherits the writing end and holds our read open.
struct Pipe
{
    int fds[2] = {-1, -1};
    bool open() { return ::pipe2(fds, O_CLOEXEC) == 0; }
    void closeEnd(int index)
    {
        if (fds[index] >= 0)
            ::close(fds[index]);
        fds[index] = -1;
    }
    ~Pipe()
    {
        closeEnd(0);
        closeEnd(1);
    }
};

// Starts the tool with both output streams on outputFd and /dev/null as input.
// The child gets an empty signal mask and SIGPIPE's default action, whatever
// this process has blocked or ignored.
std::optional<pid_t> spawn(const QStringList &launchPathAndArguments, int outputFd)
{
    std::vector<QByteArray> encoded;
    for (const QString &argument : launchPathAndArguments)
        encoded.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &argument : encoded)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Output first: when this process runs with its standard streams closed,
    // the pipe itself may sit on descriptor 0, 1 or 2.
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signalSet;
    sigemptyset(&signalSet);
    posix_spawnattr_setsigmask(&attributes, &signalSet);
    sigaddset(&signalSet, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signalSet);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, argv.front(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? std::optional<pid_t>(pid) : std::nullopt;
}

QByteArray readToEnd(int fd)
{
    QByteArray output;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            output.append(buffer, n);
        else if (n == 0 || errno != EINTR)
            return output;
    }
}

std::optional<int> waitForExit(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return std::nullopt;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return WTERMSIG(status);
    return status;
}

} // namespace

std::optional<QString> runAsTask(const QStringList &launchPathAndArguments, qint64 *terminationStatus)
{
    if (launchPathAndArguments.isEmpty() || launchPathAndArguments.constFirst().isEmpty())
        return std::nullopt;
    Pipe pipe;
    if (!pipe.open())
        return std::nullopt;
    const std::optional<pid_t> pid = spawn(launchPathAndArguments, pipe.fds[1]);
    pipe.closeEnd(1); // only the tool writes now, so its end reads as end-of-file
    if (!pid)
        return std::nullopt;

    const QByteArray output = readToEnd(pipe.fds[0]);
    const std::optional<int> status = waitForExit(*pid);
    if (status && terminationStatus)
        *terminationStatus = *status;

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(output);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace kestrum
